-- The first schema: one row per attempt at a module.
CREATE TABLE schema_version (version INTEGER NOT NULL);
INSERT INTO schema_version (version) VALUES (0);
CREATE TABLE attempts (
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
                 CHECK (result IN ('running', 'pass', 'fail', 'interrupted', 'skipped')),
    failed_step  TEXT NOT NULL DEFAULT '',
    message      TEXT NOT NULL DEFAULT '',
    started_at   TEXT NOT NULL,
    duration_ms  INTEGER NOT NULL DEFAULT 0,
    tool_version TEXT NOT NULL DEFAULT '',
    operator     TEXT NOT NULL DEFAULT ''
);
CREATE INDEX attempts_started ON attempts (started_at);
CREATE INDEX attempts_serial ON attempts (serial, kind);
