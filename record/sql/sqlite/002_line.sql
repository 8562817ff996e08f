-- A line of stations: rows decided while the record was out of reach are
-- marked, one write of a serial may run at a time, and the report reads by
-- station and socket.
ALTER TABLE attempts ADD COLUMN recorded_offline INTEGER NOT NULL DEFAULT 0;
CREATE UNIQUE INDEX attempts_one_running_write ON attempts (serial)
    WHERE result = 'running' AND operation IN ('write', 'write-unverified') AND serial <> ''
          AND recorded_offline = 0;
CREATE INDEX attempts_station_socket ON attempts (station, socket, started_at);
