-- A record an auditor can trust: every row knows the installation that made
-- it (station_id) and when the server received and finished it; a row whose
-- result another record could not keep is taken back by a correction row
-- ("not-recorded", corrects = the attempt it takes back); and each station
-- name is registered to one installation and one database user at a time.
ALTER TABLE attempts ADD COLUMN station_id text NOT NULL DEFAULT '';
ALTER TABLE attempts ADD COLUMN corrects uuid;
ALTER TABLE attempts ADD COLUMN received_at timestamptz NOT NULL DEFAULT now();
ALTER TABLE attempts ADD COLUMN finished_at timestamptz;
ALTER TABLE attempts DROP CONSTRAINT attempts_result_check;
ALTER TABLE attempts ADD CONSTRAINT attempts_result_check
    CHECK (result IN ('running', 'pass', 'fail', 'interrupted', 'skipped', 'not-recorded'));
CREATE INDEX attempts_running_by_station ON attempts (station_id) WHERE result = 'running';
CREATE INDEX attempts_corrected ON attempts (corrects) WHERE corrects IS NOT NULL;
CREATE TABLE stations (
    station       text PRIMARY KEY,
    station_id    text NOT NULL,
    db_user       name NOT NULL DEFAULT current_user,
    registered_at timestamptz NOT NULL DEFAULT now(),
    seen_at       timestamptz NOT NULL DEFAULT now()
);
