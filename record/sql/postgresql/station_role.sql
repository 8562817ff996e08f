-- What a station may do on the line's record: read, add its attempts and
-- finish them; never delete, never change another station's rows.
-- Run once by the owner of the tables, after `modsetup db init`:
--     psql "service=line" -v ON_ERROR_STOP=1 -f station_role.sql
-- then give each station PC a login of its own in this role:
--     CREATE ROLE station_2 LOGIN IN ROLE modsetup_station;
--     \password station_2        (the station keeps it in ~/.pgpass)
CREATE ROLE modsetup_station NOLOGIN;
GRANT SELECT ON schema_version TO modsetup_station;
GRANT SELECT, INSERT, UPDATE ON attempts TO modsetup_station;
ALTER TABLE attempts ENABLE ROW LEVEL SECURITY;
CREATE POLICY attempts_read ON attempts FOR SELECT TO modsetup_station USING (true);
CREATE POLICY attempts_add_own ON attempts FOR INSERT TO modsetup_station
    WITH CHECK (db_user = current_user);
CREATE POLICY attempts_finish_own ON attempts FOR UPDATE TO modsetup_station
    USING (db_user = current_user) WITH CHECK (db_user = current_user);
