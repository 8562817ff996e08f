-- The first schema: one row per attempt at a module.
CREATE TABLE schema_version (version integer NOT NULL);
INSERT INTO schema_version (version) VALUES (0);
CREATE TABLE attempts (
    attempt_id   uuid PRIMARY KEY,
    station      text NOT NULL,
    socket       integer NOT NULL,
    port         text NOT NULL DEFAULT '',
    device       text NOT NULL DEFAULT '',
    kind         text NOT NULL DEFAULT '',
    serial       text NOT NULL DEFAULT '',
    version      text NOT NULL DEFAULT '',
    ch0          text NOT NULL DEFAULT '',
    ch1          text NOT NULL DEFAULT '',
    ch2          text NOT NULL DEFAULT '',
    ch3          text NOT NULL DEFAULT '',
    rb0          text NOT NULL DEFAULT '',
    rb1          text NOT NULL DEFAULT '',
    rb2          text NOT NULL DEFAULT '',
    rb3          text NOT NULL DEFAULT '',
    operation    text NOT NULL,
    result       text NOT NULL
                 CHECK (result IN ('running', 'pass', 'fail', 'interrupted', 'skipped')),
    failed_step  text NOT NULL DEFAULT '',
    message      text NOT NULL DEFAULT '',
    started_at   timestamptz NOT NULL,
    duration_ms  bigint NOT NULL DEFAULT 0,
    tool_version text NOT NULL DEFAULT '',
    operator     text NOT NULL DEFAULT ''
);
CREATE INDEX attempts_started ON attempts (started_at);
CREATE INDEX attempts_serial ON attempts (serial, kind);
