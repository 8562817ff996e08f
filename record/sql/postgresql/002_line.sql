-- A line of stations: rows decided while the server was out of reach are
-- marked, one write of a serial may run at a time, each row knows the
-- database user that made it (the station role may change only its own),
-- and the report reads by station and socket.
ALTER TABLE attempts ADD COLUMN recorded_offline boolean NOT NULL DEFAULT false;
ALTER TABLE attempts ADD COLUMN db_user name NOT NULL DEFAULT current_user;
CREATE UNIQUE INDEX attempts_one_running_write ON attempts (serial)
    WHERE result = 'running' AND operation IN ('write', 'write-unverified') AND serial <> ''
          AND NOT recorded_offline;
CREATE INDEX attempts_station_socket ON attempts (station, socket, started_at);
