#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace record {

// Where --db points. A password never comes from here: libpq finds it in
// ~/.pgpass, PGPASSFILE or the service file, where `ps` cannot show it.
struct DbTarget {
    enum class Kind { Sqlite, Postgres };
    Kind kind = Kind::Sqlite;
    std::string path;  // SQLite: the database file
    // PostgreSQL: empty fields are left to libpq (PGHOST, the service file, ...).
    std::string host;
    int port = -1;
    std::string database;
    std::string user;
    // libpq connection keywords as given (sslmode, service, connect_timeout, ...).
    std::vector<std::pair<std::string, std::string>> options;

    // For messages and Describe(): the URI as given, which holds no password.
    std::string text;
};

// "sqlite:PATH", "postgresql://[user@][host][:port][/database][?key=value&...]"
// (also "postgres://"), or "postgres:service=NAME [key=value ...]". Nothing,
// with the reason in *error, for anything else and for a URI with a password.
std::optional<DbTarget> ParseDbUri(const std::string& uri, std::string* error);

// A PostgreSQL target's libpq keywords as given, with connect_timeout=3 when
// it has none: a server that does not answer must not hold a station for
// minutes (its rows go to the spool instead), nor a report.
std::vector<std::pair<std::string, std::string>> ConnectOptions(const DbTarget& target);

}  // namespace record
