-- What the station group may do, given by the owner at each `db init` once
-- the group exists (station_role.sql makes it). The triggers and row
-- security of 004_rules.sql decide what of it a station really gets: it
-- reads the record, adds its own attempts and finishes them once, and
-- registers its own station names; it cannot touch the audit trail or
-- delete anything.
GRANT SELECT ON schema_version TO modsetup_station;
GRANT SELECT, INSERT, UPDATE ON attempts TO modsetup_station;
GRANT SELECT, INSERT, UPDATE ON stations TO modsetup_station;
