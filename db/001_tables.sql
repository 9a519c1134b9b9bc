-- Operators, meters, routes and readings.
-- Applied once by palvero-office schema, which records its number in palvero_schema.

-- One row per operator; the name is the operator's database role.
CREATE TABLE operators (
    name      text PRIMARY KEY,
    full_name text NOT NULL DEFAULT ''
);

-- Meters by identification number (8 hexadecimal digits, as the reader shows them), with
-- the AES-128 key as 32 hexadecimal digits, or empty for a meter that sends in the clear.
CREATE TABLE meters (
    meter_id     text PRIMARY KEY CHECK (meter_id ~ '^[0-9A-F]{8}$'),
    manufacturer text NOT NULL DEFAULT '',
    aes_key      text NOT NULL DEFAULT '' CHECK (aes_key ~ '^([0-9A-Fa-f]{32})?$'),
    address      text NOT NULL DEFAULT ''
);

-- A route is walked by one operator on one day; its meters in walking order.
CREATE TABLE routes (
    route_id      bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    name          text NOT NULL CHECK (name <> ''),
    operator_name text NOT NULL REFERENCES operators (name) ON UPDATE CASCADE,
    day           date NOT NULL,
    UNIQUE (name, day)
);

CREATE TABLE route_meters (
    route_id bigint NOT NULL REFERENCES routes ON DELETE CASCADE,
    position integer NOT NULL,
    meter_id text NOT NULL REFERENCES meters ON UPDATE CASCADE,
    PRIMARY KEY (route_id, position),
    UNIQUE (route_id, meter_id)
);

-- One row per telegram read on a laptop. The reading's ID is made on the laptop when the
-- telegram is heard, so that sending it again changes nothing. Meters off the routes are
-- kept too: an operator hears every meter in range.
CREATE TABLE readings (
    reading_id    uuid PRIMARY KEY,
    meter_id      text NOT NULL,
    operator_name text NOT NULL REFERENCES operators (name) ON UPDATE CASCADE,
    laptop        text NOT NULL DEFAULT '',
    heard_at      timestamptz NOT NULL,
    manufacturer  text NOT NULL DEFAULT '',
    medium        text NOT NULL DEFAULT '',
    rssi_dbm      smallint,
    main_value    text NOT NULL DEFAULT '',
    unit          text NOT NULL DEFAULT '',
    additional    text[] NOT NULL DEFAULT '{}',
    decrypted     boolean NOT NULL,
    telegram      bytea NOT NULL
);

CREATE INDEX readings_heard ON readings (heard_at);
