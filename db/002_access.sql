-- Who sees what. Operators log in as members of palvero_operator: they read their own
-- routes and the meters and keys on them, and add readings as themselves only. Office
-- staff are members of palvero_office: they read everything and manage operators, meters
-- and routes. Nobody but the tables' owner changes or removes a reading.

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'palvero_operator') THEN
        CREATE ROLE palvero_operator NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'palvero_office') THEN
        CREATE ROLE palvero_office NOLOGIN;
    END IF;
END
$$;

REVOKE ALL ON operators, meters, routes, route_meters, readings FROM PUBLIC;

GRANT SELECT ON palvero_schema TO palvero_operator, palvero_office;
GRANT SELECT ON operators, meters, routes, route_meters TO palvero_operator;
GRANT SELECT, INSERT ON readings TO palvero_operator;
GRANT SELECT, INSERT, UPDATE, DELETE ON operators, meters, routes, route_meters TO palvero_office;
GRANT SELECT ON readings TO palvero_office;

ALTER TABLE operators ENABLE ROW LEVEL SECURITY;
ALTER TABLE meters ENABLE ROW LEVEL SECURITY;
ALTER TABLE routes ENABLE ROW LEVEL SECURITY;
ALTER TABLE route_meters ENABLE ROW LEVEL SECURITY;
ALTER TABLE readings ENABLE ROW LEVEL SECURITY;

CREATE POLICY office_operators ON operators TO palvero_office USING (true) WITH CHECK (true);
CREATE POLICY office_meters ON meters TO palvero_office USING (true) WITH CHECK (true);
CREATE POLICY office_routes ON routes TO palvero_office USING (true) WITH CHECK (true);
CREATE POLICY office_route_meters ON route_meters TO palvero_office USING (true) WITH CHECK (true);
CREATE POLICY office_readings ON readings FOR SELECT TO palvero_office USING (true);

CREATE POLICY operator_self ON operators FOR SELECT TO palvero_operator
    USING (name = current_user);
CREATE POLICY operator_routes ON routes FOR SELECT TO palvero_operator
    USING (operator_name = current_user);
CREATE POLICY operator_route_meters ON route_meters FOR SELECT TO palvero_operator
    USING (EXISTS (SELECT 1 FROM routes r
                   WHERE r.route_id = route_meters.route_id AND r.operator_name = current_user));
CREATE POLICY operator_meters ON meters FOR SELECT TO palvero_operator
    USING (EXISTS (SELECT 1 FROM route_meters rm JOIN routes r ON r.route_id = rm.route_id
                   WHERE rm.meter_id = meters.meter_id AND r.operator_name = current_user));
CREATE POLICY operator_adds_own ON readings FOR INSERT TO palvero_operator
    WITH CHECK (operator_name = current_user);
CREATE POLICY operator_reads_own ON readings FOR SELECT TO palvero_operator
    USING (operator_name = current_user);
