-- When the server received each reading (the laptop may send hours after hearing it), and
-- the look-up of a meter's latest readings that the progress report makes.
ALTER TABLE readings ADD COLUMN received_at timestamptz NOT NULL DEFAULT now();
CREATE INDEX readings_meter_heard ON readings (meter_id, heard_at DESC);
