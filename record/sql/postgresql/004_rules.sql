-- The rules the server keeps, whoever connects: a station's login (any role
-- that does not own these tables) adds running attempts under a station name
-- registered to it, finishes each once and changes nothing else; finished
-- rows stay as they are for everyone but the owner; every change, the
-- owner's too, is appended to attempt_audit; and each finished attempt is
-- chained by SHA-256 to the one finished before it by the same installation
-- (station_id), so `modsetup db verify` can show what was changed behind the
-- rules. Nothing here needs the station roles to exist: the grants that let
-- them in are given by `db init` (station_grants.sql) once they do.

SET LOCAL client_min_messages = warning;

-- The chain: chain_seq counts a station id's finished attempts from 1,
-- chain_prev is the hash of the one before (64 zeros for the first) and
-- chain_hash the SHA-256, in lowercase hex, of attempt_chain_text().
ALTER TABLE attempts ADD COLUMN chain_seq bigint;
ALTER TABLE attempts ADD COLUMN chain_prev text;
ALTER TABLE attempts ADD COLUMN chain_hash text;
CREATE UNIQUE INDEX attempts_chain ON attempts (station_id, chain_seq) WHERE chain_seq IS NOT NULL;

-- Appended to by the triggers alone: no station may write or change it.
CREATE TABLE attempt_audit (
    audit_id          bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    at                timestamptz NOT NULL DEFAULT clock_timestamp(),
    table_name        text NOT NULL,
    operation         text NOT NULL,
    attempt_id        uuid,
    station           text,
    session_user_name name NOT NULL,
    current_user_name name NOT NULL,
    old_values        jsonb,
    new_values        jsonb
);
CREATE INDEX attempt_audit_attempt ON attempt_audit (attempt_id, audit_id);
REVOKE ALL ON attempt_audit FROM PUBLIC;

-- A time as integer microseconds since 1970 (UTC): the same number however
-- the session shows times.
CREATE OR REPLACE FUNCTION attempt_micros(t timestamptz) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$ SELECT (extract(epoch FROM t) * 1000000)::bigint::text $$;

-- One field of that text: "\" written "\\", "|" written "\|", NULL as "\N".
CREATE OR REPLACE FUNCTION attempt_chain_field(v text) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$
    SELECT coalesce(replace(replace(v, E'\\', E'\\\\'), '|', E'\\|'), E'\\N')
$$;

-- What a finished attempt's hash is made of: its fields in this order, each
-- written as attempt_chain_field() does, joined by "|". modsetup db verify
-- builds the same text itself.
CREATE OR REPLACE FUNCTION attempt_chain_text(r attempts) RETURNS text
    LANGUAGE sql STABLE AS $$
    SELECT concat_ws('|',
        'modsetup-chain-1',
        attempt_chain_field(r.chain_seq::text),
        attempt_chain_field(r.chain_prev),
        attempt_chain_field(r.attempt_id::text),
        attempt_chain_field(r.station_id),
        attempt_chain_field(r.station),
        attempt_chain_field(r.db_user::text),
        attempt_chain_field(r.socket::text),
        attempt_chain_field(r.port),
        attempt_chain_field(r.device),
        attempt_chain_field(r.kind),
        attempt_chain_field(r.serial),
        attempt_chain_field(r.version),
        attempt_chain_field(r.ch0),
        attempt_chain_field(r.ch1),
        attempt_chain_field(r.ch2),
        attempt_chain_field(r.ch3),
        attempt_chain_field(r.rb0),
        attempt_chain_field(r.rb1),
        attempt_chain_field(r.rb2),
        attempt_chain_field(r.rb3),
        attempt_chain_field(r.operation),
        attempt_chain_field(r.result),
        attempt_chain_field(r.failed_step),
        attempt_chain_field(r.message),
        attempt_chain_field(attempt_micros(r.started_at)),
        attempt_chain_field(r.duration_ms::text),
        attempt_chain_field(r.tool_version),
        attempt_chain_field(r.operator),
        attempt_chain_field(CASE WHEN r.recorded_offline THEN 't' ELSE 'f' END),
        attempt_chain_field(r.corrects::text),
        attempt_chain_field(attempt_micros(r.received_at)),
        attempt_chain_field(attempt_micros(r.finished_at)))
$$;

CREATE OR REPLACE FUNCTION attempt_chain_hash(r attempts) RETURNS text
    LANGUAGE sql STABLE AS $$
    SELECT encode(sha256(convert_to(attempt_chain_text(r), 'UTF8')), 'hex')
$$;

-- The rows finished before these rules start their chains, in the order
-- they ended, and are in the audit trail as they are now (times as UTC, the
-- way the audit trigger writes them).
SET LOCAL TimeZone = 'UTC';
CREATE TEMPORARY TABLE chained (attempt_id uuid, seq bigint, prev text, hash text) ON COMMIT DROP;
DO $$
DECLARE
    r attempts;
    seq bigint := 0;
    prev text;
    sid text;
BEGIN
    FOR r IN SELECT * FROM attempts WHERE result <> 'running'
             ORDER BY station_id, coalesce(finished_at, started_at), started_at, attempt_id LOOP
        IF sid IS DISTINCT FROM r.station_id THEN
            sid := r.station_id;
            seq := 0;
            prev := repeat('0', 64);
        END IF;
        seq := seq + 1;
        r.chain_seq := seq;
        r.chain_prev := prev;
        r.chain_hash := attempt_chain_hash(r);
        prev := r.chain_hash;
        INSERT INTO chained VALUES (r.attempt_id, r.chain_seq, r.chain_prev, r.chain_hash);
    END LOOP;
END $$;
UPDATE attempts a SET chain_seq = c.seq, chain_prev = c.prev, chain_hash = c.hash
    FROM chained c WHERE a.attempt_id = c.attempt_id;
INSERT INTO attempt_audit (table_name, operation, attempt_id, station, session_user_name,
                           current_user_name, new_values)
    SELECT 'attempts', 'EXISTING', a.attempt_id, a.station, session_user, current_user, to_jsonb(a)
    FROM attempts a ORDER BY a.started_at, a.attempt_id;
INSERT INTO attempt_audit (table_name, operation, station, session_user_name, current_user_name,
                           new_values)
    SELECT 'stations', 'EXISTING', s.station, session_user, current_user, to_jsonb(s)
    FROM stations s ORDER BY s.station;

-- What a station may do to an attempt; the owner of the table may do
-- anything, and it all goes to the audit trail. Runs as whoever made the
-- statement, so current_user is the station's own role.
CREATE OR REPLACE FUNCTION attempt_rules() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    is_owner boolean := pg_has_role(current_user,
                                    (SELECT relowner FROM pg_class WHERE oid = TG_RELID),
                                    'MEMBER');
    taken attempts;
    last_seq bigint;
    last_hash text;
BEGIN
    IF TG_OP = 'DELETE' THEN
        IF NOT is_owner THEN
            RAISE EXCEPTION 'only the owner of the record deletes attempts' USING ERRCODE = '42501';
        END IF;
        RETURN OLD;
    END IF;
    IF TG_OP = 'INSERT' AND NOT is_owner THEN
        IF NEW.db_user IS DISTINCT FROM current_user THEN
            RAISE EXCEPTION 'an attempt is recorded as its own database user (%), not as %',
                current_user, NEW.db_user USING ERRCODE = '42501';
        END IF;
        IF NOT EXISTS (SELECT 1 FROM stations s WHERE s.station = NEW.station
                       AND s.station_id = NEW.station_id AND s.db_user = current_user) THEN
            RAISE EXCEPTION 'station "%" is not registered to % with station id %', NEW.station,
                current_user, NEW.station_id USING ERRCODE = '42501';
        END IF;
        -- A skip claims nothing of the module (it passed before, or another
        -- station is writing it): it is recorded finished at once, since the
        -- running row of the writing station holds its serial.
        IF NEW.result IN ('running', 'skipped') THEN
            IF NEW.corrects IS NOT NULL THEN
                RAISE EXCEPTION 'only a finished not-recorded attempt takes back another'
                    USING ERRCODE = '42501';
            END IF;
            -- The station's own clock, for a row decided while the server was
            -- out of reach, may be hours behind; never ahead.
            IF NOT isfinite(NEW.started_at) OR NEW.started_at > now() + interval '1 minute'
               OR (NOT NEW.recorded_offline AND NEW.started_at < now() - interval '1 minute') THEN
                RAISE EXCEPTION 'started_at % is not within a minute of the server''s time %',
                    NEW.started_at, now() USING ERRCODE = '42501';
            END IF;
        ELSIF NEW.result = 'not-recorded' AND NEW.corrects IS NOT NULL THEN
            SELECT * INTO taken FROM attempts WHERE attempt_id = NEW.corrects;
            IF NOT FOUND OR taken.result IN ('running', 'not-recorded')
               OR taken.station_id <> NEW.station_id OR taken.db_user <> current_user
               OR (taken.serial, taken.kind, taken.operation, taken.ch0, taken.ch1, taken.ch2,
                   taken.ch3) IS DISTINCT FROM (NEW.serial, NEW.kind, NEW.operation, NEW.ch0,
                                               NEW.ch1, NEW.ch2, NEW.ch3) THEN
                RAISE EXCEPTION 'a correction takes back a finished attempt of the same station '
                    'id and module, made by %', current_user USING ERRCODE = '42501';
            END IF;
            IF NOT isfinite(NEW.started_at) OR NEW.started_at < taken.started_at
               OR NEW.started_at > now() + interval '1 minute' THEN
                RAISE EXCEPTION 'a correction starts between the attempt it takes back and now'
                    USING ERRCODE = '42501';
            END IF;
        ELSE
            RAISE EXCEPTION 'a station inserts an attempt as running, not as % (only the owner '
                'records a finished one)', NEW.result USING ERRCODE = '42501';
        END IF;
        NEW.received_at := now();
    ELSIF TG_OP = 'UPDATE' THEN
        IF OLD.result <> 'running' THEN
            IF NOT is_owner THEN
                RAISE EXCEPTION 'attempt % is finished (%): it is kept as it is', OLD.attempt_id,
                    OLD.result USING ERRCODE = '42501';
            END IF;
            -- The owner's change stays in the audit trail, and the row's hash
            -- no longer matches its values.
            RETURN NEW;
        END IF;
        IF NOT is_owner THEN
            IF NEW.result = 'running' THEN
                RAISE EXCEPTION 'a running attempt is only finished' USING ERRCODE = '42501';
            END IF;
            IF (NEW.attempt_id, NEW.station, NEW.station_id, NEW.db_user, NEW.socket, NEW.port,
                NEW.device, NEW.kind, NEW.serial, NEW.ch0, NEW.ch1, NEW.ch2, NEW.ch3,
                NEW.operation, NEW.started_at, NEW.tool_version, NEW.operator,
                NEW.recorded_offline, NEW.corrects, NEW.received_at, NEW.chain_seq,
                NEW.chain_prev, NEW.chain_hash)
               IS DISTINCT FROM
               (OLD.attempt_id, OLD.station, OLD.station_id, OLD.db_user, OLD.socket, OLD.port,
                OLD.device, OLD.kind, OLD.serial, OLD.ch0, OLD.ch1, OLD.ch2, OLD.ch3,
                OLD.operation, OLD.started_at, OLD.tool_version, OLD.operator,
                OLD.recorded_offline, OLD.corrects, OLD.received_at, OLD.chain_seq,
                OLD.chain_prev, OLD.chain_hash) THEN
                RAISE EXCEPTION 'finishing attempt % changes only its result, failed step, '
                    'message, duration, read-back and version', OLD.attempt_id
                    USING ERRCODE = '42501';
            END IF;
        END IF;
    END IF;
    IF NEW.result = 'running' THEN
        NEW.finished_at := NULL;
        NEW.chain_seq := NULL;
        NEW.chain_prev := NULL;
        NEW.chain_hash := NULL;
        RETURN NEW;
    END IF;
    -- The row ends now: it takes the next link of its station id's chain.
    -- One finish per station id at a time; the lock is held to the commit,
    -- so the next one sees this link.
    PERFORM pg_advisory_xact_lock(434002, hashtext(NEW.station_id));
    SELECT chain_seq, chain_hash INTO last_seq, last_hash FROM attempts
        WHERE station_id = NEW.station_id AND chain_seq IS NOT NULL
        ORDER BY chain_seq DESC LIMIT 1;
    NEW.finished_at := clock_timestamp();
    NEW.chain_seq := coalesce(last_seq, 0) + 1;
    NEW.chain_prev := coalesce(last_hash, repeat('0', 64));
    NEW.chain_hash := attempt_chain_hash(NEW);
    RETURN NEW;
END $$;

-- A station name belongs to one database user: a station registers names
-- for itself and moves its own name to a new installation; only the owner
-- hands a name to another user or frees it (`modsetup db release --station`).
CREATE OR REPLACE FUNCTION station_rules() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF pg_has_role(current_user, (SELECT relowner FROM pg_class WHERE oid = TG_RELID),
                   'MEMBER') THEN
        RETURN CASE WHEN TG_OP = 'DELETE' THEN OLD ELSE NEW END;
    END IF;
    IF TG_OP = 'DELETE' THEN
        RAISE EXCEPTION 'only the owner of the record frees a station name' USING ERRCODE = '42501';
    END IF;
    IF TG_OP = 'UPDATE' AND (OLD.db_user <> current_user OR NEW.station <> OLD.station
                             OR NEW.registered_at <> OLD.registered_at) THEN
        RAISE EXCEPTION 'station "%" is registered to %', OLD.station, OLD.db_user
            USING ERRCODE = '42501';
    END IF;
    IF NEW.db_user IS DISTINCT FROM current_user THEN
        RAISE EXCEPTION 'a station name is registered to its own database user (%)', current_user
            USING ERRCODE = '42501';
    END IF;
    IF TG_OP = 'INSERT' THEN
        NEW.registered_at := now();
    END IF;
    NEW.seen_at := now();
    RETURN NEW;
END $$;

-- Appends every change of attempts and stations to the audit trail. It runs
-- as the owner (a station cannot write the trail itself) and names both the
-- login (session_user) and the role it acted as: the one SET ROLE chose,
-- or the login itself. Times in the values are UTC.
CREATE OR REPLACE FUNCTION record_audit() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
    SET TimeZone = 'UTC' AS $$
DECLARE
    acting name := CASE WHEN current_setting('role') = 'none' THEN session_user
                        ELSE current_setting('role')::name END;
    old_v jsonb;
    new_v jsonb;
BEGIN
    IF TG_OP IN ('UPDATE', 'DELETE') THEN
        old_v := to_jsonb(OLD);
    END IF;
    IF TG_OP IN ('INSERT', 'UPDATE') THEN
        new_v := to_jsonb(NEW);
    END IF;
    INSERT INTO attempt_audit (table_name, operation, attempt_id, station, session_user_name,
                               current_user_name, old_values, new_values)
        VALUES (TG_TABLE_NAME, TG_OP,
                CASE WHEN TG_TABLE_NAME = 'attempts'
                     THEN (coalesce(new_v, old_v) ->> 'attempt_id')::uuid END,
                coalesce(new_v, old_v) ->> 'station', session_user, acting, old_v, new_v);
    RETURN NULL;
END $$;

-- A station's own session must not bring tables of its own into the
-- triggers: a temporary "stations" table would otherwise stand in for the
-- real one. Their schema comes first, the session's temporary one last;
-- the SQL functions above run with the path of the trigger that calls them
-- (and, left without a path of their own, are inlined).
DO $$
DECLARE
    f text;
BEGIN
    FOREACH f IN ARRAY ARRAY['attempt_rules()', 'station_rules()', 'record_audit()'] LOOP
        EXECUTE format('ALTER FUNCTION %s SET search_path = pg_catalog, %I, pg_temp', f,
                       current_schema());
    END LOOP;
END $$;
REVOKE ALL ON FUNCTION record_audit() FROM PUBLIC;

CREATE TRIGGER attempts_rules BEFORE INSERT OR UPDATE OR DELETE ON attempts
    FOR EACH ROW EXECUTE FUNCTION attempt_rules();
CREATE TRIGGER attempts_audit AFTER INSERT OR UPDATE OR DELETE ON attempts
    FOR EACH ROW EXECUTE FUNCTION record_audit();
CREATE TRIGGER attempts_audit_truncate BEFORE TRUNCATE ON attempts
    FOR EACH STATEMENT EXECUTE FUNCTION record_audit();
CREATE TRIGGER stations_rules BEFORE INSERT OR UPDATE OR DELETE ON stations
    FOR EACH ROW EXECUTE FUNCTION station_rules();
CREATE TRIGGER stations_audit AFTER INSERT OR UPDATE OR DELETE ON stations
    FOR EACH ROW EXECUTE FUNCTION record_audit();

-- Row security for every role but the owner: all read, each writes its own.
-- (Policies of the same names made by an earlier station_role.sql go first.)
ALTER TABLE attempts ENABLE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS attempts_read ON attempts;
DROP POLICY IF EXISTS attempts_add_own ON attempts;
DROP POLICY IF EXISTS attempts_finish_own ON attempts;
CREATE POLICY attempts_read ON attempts FOR SELECT USING (true);
CREATE POLICY attempts_add_own ON attempts FOR INSERT WITH CHECK (db_user = current_user);
CREATE POLICY attempts_finish_own ON attempts FOR UPDATE
    USING (db_user = current_user) WITH CHECK (db_user = current_user);
