#pragma once

// One Qt SQL connection of the record's own, and the few helpers every
// statement of the record uses.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <string>
#include <vector>

#include "db_uri.h"

namespace record {

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string S(const QString& s) {
    return s.toStdString();
}

// What went wrong, in the database's own words.
std::string Why(const QSqlError& e);

// Whether the statement ran into a unique index: another station (or a run
// that never ended) writes the same serial.
bool IsUniqueViolation(const QSqlError& e);

// What a failure says of the database behind it.
enum class Failure {
    OutOfReach,  // not there now (refused, timed out, starting or stopping): spool
    Busy,        // a lock held by another program (SQLite): ask again shortly
    Error,       // the database refuses this station: a person must mend it
};
// A connection that did not open: only a refused or timed-out connection,
// or a server that is starting or stopping, is out of reach; a wrong
// password, a missing database or role, a missing grant, a host name that
// does not resolve are errors.
Failure OpenFailure(const std::string& why);
// A statement that failed: the connection lost, a statement or lock timeout
// (a server too slow to wait for) is out of reach; SQLite's lock is busy.
Failure StatementFailure(const QSqlError& e, bool postgres);

// Prepares sql, binds the values in order and runs it.
bool Exec(QSqlQuery& q, const QString& sql, const std::vector<QVariant>& values);

// A connection, open or with the reason it is not.
class Connection {
  public:
    Connection();
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // An SQLite file (its folder made when missing, WAL, synchronous=FULL) or
    // a PostgreSQL server; false with the reason in *error.
    // busyMs: how long SQLite waits for a lock another program holds.
    bool Open(const DbTarget& t, std::string* error, int busyMs = 10000);
    void Close();
    bool IsOpen() const;
    QSqlDatabase Db() const;

  private:
    QString name_;
    bool added_ = false;
};

}  // namespace record
