-- A record an auditor can trust: every row knows the installation that made
-- it (station_id) and when it was received and finished; a row whose result
-- another record could not keep is taken back by a correction row
-- ("not-recorded", corrects = the attempt it takes back). SQLite cannot
-- change a CHECK in place, so the table is made anew with its rows.
CREATE TABLE attempts_new (
    attempt_id   TEXT PRIMARY KEY,
    station      TEXT NOT NULL,
    socket       INTEGER NOT NULL,
    port         TEXT NOT NULL DEFAULT '',
    device       TEXT NOT NULL DEFAULT '',
    kind         TEXT NOT NULL DEFAULT '',
    serial       TEXT NOT NULL DEFAULT '',
    version      TEXT NOT NULL DEFAULT '',
    ch0          TEXT NOT NULL DEFAULT '',
    ch1          TEXT NOT NULL DEFAULT '',
    ch2          TEXT NOT NULL DEFAULT '',
    ch3          TEXT NOT NULL DEFAULT '',
    rb0          TEXT NOT NULL DEFAULT '',
    rb1          TEXT NOT NULL DEFAULT '',
    rb2          TEXT NOT NULL DEFAULT '',
    rb3          TEXT NOT NULL DEFAULT '',
    operation    TEXT NOT NULL,
    result       TEXT NOT NULL
                 CHECK (result IN ('running', 'pass', 'fail', 'interrupted', 'skipped',
                                   'not-recorded')),
    failed_step  TEXT NOT NULL DEFAULT '',
    message      TEXT NOT NULL DEFAULT '',
    started_at   TEXT NOT NULL,
    duration_ms  INTEGER NOT NULL DEFAULT 0,
    tool_version TEXT NOT NULL DEFAULT '',
    operator     TEXT NOT NULL DEFAULT '',
    recorded_offline INTEGER NOT NULL DEFAULT 0,
    station_id   TEXT NOT NULL DEFAULT '',
    corrects     TEXT,
    received_at  TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ', 'now')),
    finished_at  TEXT
);
INSERT INTO attempts_new (attempt_id, station, socket, port, device, kind, serial, version,
                          ch0, ch1, ch2, ch3, rb0, rb1, rb2, rb3, operation, result,
                          failed_step, message, started_at, duration_ms, tool_version,
                          operator, recorded_offline)
    SELECT attempt_id, station, socket, port, device, kind, serial, version, ch0, ch1, ch2, ch3,
           rb0, rb1, rb2, rb3, operation, result, failed_step, message, started_at, duration_ms,
           tool_version, operator, recorded_offline
    FROM attempts;
DROP TABLE attempts;
ALTER TABLE attempts_new RENAME TO attempts;
CREATE INDEX attempts_started ON attempts (started_at);
CREATE INDEX attempts_serial ON attempts (serial, kind);
CREATE UNIQUE INDEX attempts_one_running_write ON attempts (serial)
    WHERE result = 'running' AND operation IN ('write', 'write-unverified') AND serial <> ''
          AND recorded_offline = 0;
CREATE INDEX attempts_station_socket ON attempts (station, socket, started_at);
CREATE INDEX attempts_running_by_station ON attempts (station_id) WHERE result = 'running';
CREATE INDEX attempts_corrected ON attempts (corrects) WHERE corrects IS NOT NULL;
