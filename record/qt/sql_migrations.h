#pragma once

// The schema: which version a database has, and bringing it up to date from
// the schema files (LatestSchemaVersion and InitDatabase are in sql_record.h).

#include <QSqlDatabase>
#include <string>

namespace record {

// The version the schema has now: 0 when there is none yet.
int SchemaVersionOf(QSqlDatabase db, bool postgres);

// Applies the schema files after the version the database has, each in a
// transaction of its own, up to upTo (0: the latest). *done (when given)
// gets the names of the files applied.
bool Migrate(QSqlDatabase db, bool postgres, int upTo, std::string* done, std::string* error);

}  // namespace record
