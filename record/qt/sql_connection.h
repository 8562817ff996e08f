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
    bool Open(const DbTarget& t, std::string* error);
    void Close();
    bool IsOpen() const;
    QSqlDatabase Db() const;

  private:
    QString name_;
    bool added_ = false;
};

}  // namespace record
