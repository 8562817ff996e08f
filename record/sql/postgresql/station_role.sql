-- The roles of a line's stations. Making roles needs a superuser or a role
-- with CREATEROLE, which the owner of the tables need not have; everything
-- else (the grants on the tables, row security, the triggers) is the
-- owner's, done by `modsetup db init`. The order:
--   1. a superuser (or a CREATEROLE role) runs this script once:
--          psql "service=line_admin" -v ON_ERROR_STOP=1 -f station_role.sql
--      and gives each station PC a login of its own in the group:
--          CREATE ROLE station_2 LOGIN IN ROLE modsetup_station;
--          \password station_2        (the station keeps it in ~/.pgpass)
--   2. the owner runs `modsetup db init --db URI`, which grants the group
--      what a station may do (run it again when the group was made after
--      the schema).
-- Running it again changes nothing.
DO $$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'modsetup_station') THEN
        CREATE ROLE modsetup_station NOLOGIN;
    END IF;
END $$;
