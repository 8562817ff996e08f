-- A kind of more than four channels keeps the channels after Ch3 (and
-- their read-back) in one column each, joined by "|"; Ch0 to Ch3 stay in
-- their own columns, so reports made for four channels read every row. The
-- audit triggers are made again to keep the new columns too.
ALTER TABLE attempts ADD COLUMN ch_more TEXT NOT NULL DEFAULT '';
ALTER TABLE attempts ADD COLUMN rb_more TEXT NOT NULL DEFAULT '';
DROP TRIGGER attempts_audit_insert;
DROP TRIGGER attempts_audit_update;
DROP TRIGGER attempts_audit_delete;
CREATE TRIGGER attempts_audit_insert AFTER INSERT ON attempts
BEGIN
    INSERT INTO attempt_audit (operation, attempt_id, station, old_values, new_values)
    VALUES ('INSERT', NEW.attempt_id, NEW.station,
        NULL,
        json_object('attempt_id', NEW.attempt_id, 'station', NEW.station, 'socket', NEW.socket,
        'port', NEW.port, 'device', NEW.device, 'kind', NEW.kind, 'serial', NEW.serial,
        'version', NEW.version, 'ch0', NEW.ch0, 'ch1', NEW.ch1, 'ch2', NEW.ch2, 'ch3', NEW.ch3,
        'rb0', NEW.rb0, 'rb1', NEW.rb1, 'rb2', NEW.rb2, 'rb3', NEW.rb3, 'ch_more', NEW.ch_more, 'rb_more', NEW.rb_more,
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
        'rb0', OLD.rb0, 'rb1', OLD.rb1, 'rb2', OLD.rb2, 'rb3', OLD.rb3, 'ch_more', OLD.ch_more, 'rb_more', OLD.rb_more,
        'operation', OLD.operation, 'result', OLD.result, 'failed_step', OLD.failed_step,
        'message', OLD.message, 'started_at', OLD.started_at, 'duration_ms', OLD.duration_ms,
        'tool_version', OLD.tool_version, 'operator', OLD.operator,
        'recorded_offline', OLD.recorded_offline, 'station_id', OLD.station_id,
        'corrects', OLD.corrects, 'received_at', OLD.received_at,
        'finished_at', OLD.finished_at),
        json_object('attempt_id', NEW.attempt_id, 'station', NEW.station, 'socket', NEW.socket,
        'port', NEW.port, 'device', NEW.device, 'kind', NEW.kind, 'serial', NEW.serial,
        'version', NEW.version, 'ch0', NEW.ch0, 'ch1', NEW.ch1, 'ch2', NEW.ch2, 'ch3', NEW.ch3,
        'rb0', NEW.rb0, 'rb1', NEW.rb1, 'rb2', NEW.rb2, 'rb3', NEW.rb3, 'ch_more', NEW.ch_more, 'rb_more', NEW.rb_more,
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
        'rb0', OLD.rb0, 'rb1', OLD.rb1, 'rb2', OLD.rb2, 'rb3', OLD.rb3, 'ch_more', OLD.ch_more, 'rb_more', OLD.rb_more,
        'operation', OLD.operation, 'result', OLD.result, 'failed_step', OLD.failed_step,
        'message', OLD.message, 'started_at', OLD.started_at, 'duration_ms', OLD.duration_ms,
        'tool_version', OLD.tool_version, 'operator', OLD.operator,
        'recorded_offline', OLD.recorded_offline, 'station_id', OLD.station_id,
        'corrects', OLD.corrects, 'received_at', OLD.received_at,
        'finished_at', OLD.finished_at),
        NULL);
END;
