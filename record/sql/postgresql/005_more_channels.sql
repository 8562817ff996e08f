-- A kind of more than four channels keeps the channels after Ch3 (and
-- their read-back) in one column each, joined by "|"; Ch0 to Ch3 stay in
-- their own columns, so reports made for four channels read every row.
ALTER TABLE attempts ADD COLUMN ch_more text NOT NULL DEFAULT '';
ALTER TABLE attempts ADD COLUMN rb_more text NOT NULL DEFAULT '';

-- The chain hashes the two only when a row has them, after the rest:
-- every hash made before stays the hash of its row.
CREATE OR REPLACE FUNCTION attempt_chain_hash(r attempts) RETURNS text
    LANGUAGE sql STABLE AS $$
    SELECT encode(sha256(convert_to(attempt_chain_text(r) ||
        CASE WHEN r.ch_more = '' AND r.rb_more = '' THEN ''
             ELSE '|' || attempt_chain_field(r.ch_more) || '|' || attempt_chain_field(r.rb_more)
        END, 'UTF8')), 'hex')
$$;

-- What a station may not change of a running attempt, and what a correction
-- must share with the attempt it takes back, for the new channels: the rest
-- is attempt_rules()'s.
CREATE OR REPLACE FUNCTION attempt_more_rules() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF pg_has_role(current_user, (SELECT relowner FROM pg_class WHERE oid = TG_RELID),
                   'MEMBER') THEN
        RETURN NEW;
    END IF;
    IF TG_OP = 'UPDATE' AND NEW.ch_more IS DISTINCT FROM OLD.ch_more THEN
        RAISE EXCEPTION 'finishing attempt % changes only its result, failed step, '
            'message, duration, read-back and version', OLD.attempt_id USING ERRCODE = '42501';
    END IF;
    IF TG_OP = 'INSERT' AND NEW.corrects IS NOT NULL AND NEW.ch_more IS DISTINCT FROM
       (SELECT ch_more FROM attempts WHERE attempt_id = NEW.corrects) THEN
        RAISE EXCEPTION 'a correction takes back a finished attempt of the same station '
            'id and module, made by %', current_user USING ERRCODE = '42501';
    END IF;
    RETURN NEW;
END $$;
CREATE TRIGGER attempts_more_rules BEFORE INSERT OR UPDATE ON attempts
    FOR EACH ROW EXECUTE FUNCTION attempt_more_rules();
