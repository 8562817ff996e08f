-- What an SQLite file keeps of the server's rules (it has no users, so
-- no station roles and no owner): a finished attempt is kept as it is, and
-- every insert, update and delete of an attempt is appended to
-- attempt_audit, which itself takes no change. The hash chain and
-- `modsetup db verify` are PostgreSQL's alone.
CREATE TABLE attempt_audit (
    audit_id   INTEGER PRIMARY KEY AUTOINCREMENT,
    at         TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ', 'now')),
    table_name TEXT NOT NULL DEFAULT 'attempts',
    operation  TEXT NOT NULL,
    attempt_id TEXT,
    station    TEXT,
    old_values TEXT,
    new_values TEXT
);
CREATE INDEX attempt_audit_attempt ON attempt_audit (attempt_id, audit_id);
INSERT INTO attempt_audit (operation, attempt_id, station, new_values)
    SELECT 'EXISTING', a.attempt_id, a.station,
        json_object('attempt_id', a.attempt_id, 'station', a.station, 'socket', a.socket,
        'port', a.port, 'device', a.device, 'kind', a.kind, 'serial', a.serial,
        'version', a.version, 'ch0', a.ch0, 'ch1', a.ch1, 'ch2', a.ch2, 'ch3', a.ch3,
        'rb0', a.rb0, 'rb1', a.rb1, 'rb2', a.rb2, 'rb3', a.rb3, 'operation', a.operation,
        'result', a.result, 'failed_step', a.failed_step, 'message', a.message,
        'started_at', a.started_at, 'duration_ms', a.duration_ms,
        'tool_version', a.tool_version, 'operator', a.operator,
        'recorded_offline', a.recorded_offline, 'station_id', a.station_id,
        'corrects', a.corrects, 'received_at', a.received_at, 'finished_at', a.finished_at)
    FROM attempts a ORDER BY a.started_at, a.attempt_id;
CREATE TRIGGER attempts_finished_kept BEFORE UPDATE ON attempts WHEN OLD.result <> 'running'
BEGIN
    SELECT RAISE(ABORT, 'a finished attempt is kept as it is');
END;
CREATE TRIGGER attempts_finished_not_deleted BEFORE DELETE ON attempts
    WHEN OLD.result <> 'running'
BEGIN
    SELECT RAISE(ABORT, 'a finished attempt is kept as it is');
END;
CREATE TRIGGER attempts_audit_insert AFTER INSERT ON attempts
BEGIN
    INSERT INTO attempt_audit (operation, attempt_id, station, old_values, new_values)
    VALUES ('INSERT', NEW.attempt_id, NEW.station,
        NULL,
        json_object('attempt_id', NEW.attempt_id, 'station', NEW.station, 'socket', NEW.socket,
        'port', NEW.port, 'device', NEW.device, 'kind', NEW.kind, 'serial', NEW.serial,
        'version', NEW.version, 'ch0', NEW.ch0, 'ch1', NEW.ch1, 'ch2', NEW.ch2, 'ch3', NEW.ch3,
        'rb0', NEW.rb0, 'rb1', NEW.rb1, 'rb2', NEW.rb2, 'rb3', NEW.rb3,
        'operation', NEW.operation, 'result', NEW.result, 'failed_step', NEW.failed_step,
        'message', NEW.message, 'started_at', NEW.started_at, 'duration_ms', NEW.duration_ms,
        'tool_version', NEW.tool_version, 'operator', NEW.operator,
        'recorded_offline', NEW.recorded_offline, 'station_id', NEW.station_id,
        'corrects', NEW.corrects, 'received_at', NEW.received_at,
        'finished_at', NEW.finished_at));
END;
CREATE TRIGGER attempts_audit_update AFTER UPDATE ON attempts
BEGIN
    INSERT INTO attempt_audit (operation, attempt_id, station, old_values, new_values)
    VALUES ('UPDATE', NEW.attempt_id, NEW.station,
        json_object('attempt_id', OLD.attempt_id, 'station', OLD.station, 'socket', OLD.socket,
        'port', OLD.port, 'device', OLD.device, 'kind', OLD.kind, 'serial', OLD.serial,
        'version', OLD.version, 'ch0', OLD.ch0, 'ch1', OLD.ch1, 'ch2', OLD.ch2, 'ch3', OLD.ch3,
        'rb0', OLD.rb0, 'rb1', OLD.rb1, 'rb2', OLD.rb2, 'rb3', OLD.rb3,
        'operation', OLD.operation, 'result', OLD.result, 'failed_step', OLD.failed_step,
        'message', OLD.message, 'started_at', OLD.started_at, 'duration_ms', OLD.duration_ms,
        'tool_version', OLD.tool_version, 'operator', OLD.operator,
        'recorded_offline', OLD.recorded_offline, 'station_id', OLD.station_id,
        'corrects', OLD.corrects, 'received_at', OLD.received_at,
        'finished_at', OLD.finished_at),
        json_object('attempt_id', NEW.attempt_id, 'station', NEW.station, 'socket', NEW.socket,
        'port', NEW.port, 'device', NEW.device, 'kind', NEW.kind, 'serial', NEW.serial,
        'version', NEW.version, 'ch0', NEW.ch0, 'ch1', NEW.ch1, 'ch2', NEW.ch2, 'ch3', NEW.ch3,
        'rb0', NEW.rb0, 'rb1', NEW.rb1, 'rb2', NEW.rb2, 'rb3', NEW.rb3,
        'operation', NEW.operation, 'result', NEW.result, 'failed_step', NEW.failed_step,
        'message', NEW.message, 'started_at', NEW.started_at, 'duration_ms', NEW.duration_ms,
        'tool_version', NEW.tool_version, 'operator', NEW.operator,
        'recorded_offline', NEW.recorded_offline, 'station_id', NEW.station_id,
        'corrects', NEW.corrects, 'received_at', NEW.received_at,
        'finished_at', NEW.finished_at));
END;
CREATE TRIGGER attempts_audit_delete AFTER DELETE ON attempts
BEGIN
    INSERT INTO attempt_audit (operation, attempt_id, station, old_values, new_values)
    VALUES ('DELETE', OLD.attempt_id, OLD.station,
        json_object('attempt_id', OLD.attempt_id, 'station', OLD.station, 'socket', OLD.socket,
        'port', OLD.port, 'device', OLD.device, 'kind', OLD.kind, 'serial', OLD.serial,
        'version', OLD.version, 'ch0', OLD.ch0, 'ch1', OLD.ch1, 'ch2', OLD.ch2, 'ch3', OLD.ch3,
        'rb0', OLD.rb0, 'rb1', OLD.rb1, 'rb2', OLD.rb2, 'rb3', OLD.rb3,
        'operation', OLD.operation, 'result', OLD.result, 'failed_step', OLD.failed_step,
        'message', OLD.message, 'started_at', OLD.started_at, 'duration_ms', OLD.duration_ms,
        'tool_version', OLD.tool_version, 'operator', OLD.operator,
        'recorded_offline', OLD.recorded_offline, 'station_id', OLD.station_id,
        'corrects', OLD.corrects, 'received_at', OLD.received_at,
        'finished_at', OLD.finished_at),
        NULL);
END;
CREATE TRIGGER attempt_audit_kept BEFORE UPDATE ON attempt_audit
BEGIN
    SELECT RAISE(ABORT, 'the audit trail takes no change');
END;
CREATE TRIGGER attempt_audit_not_deleted BEFORE DELETE ON attempt_audit
BEGIN
    SELECT RAISE(ABORT, 'the audit trail takes no change');
END;
