#include "sql_connection.h"

#include <QCoreApplication>
#include <QStringList>
#include <atomic>

#include "file_system.h"

namespace record {

namespace {

QString NewConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("record-%1").arg(next++);
}

// Qt looks for its SQL drivers through the application object.
void NeedApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "modsetup";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

}  // namespace

std::string Why(const QSqlError& e) {
    std::string text = S(e.databaseText().trimmed());
    if (text.empty()) text = S(e.driverText().trimmed());
    return text.empty() ? "unknown database error" : text;
}

bool IsUniqueViolation(const QSqlError& e) {
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("23505") || code == QLatin1String("2067") ||
           code == QLatin1String("1555") ||
           e.databaseText().contains(QLatin1String("UNIQUE constraint failed"));
}

bool Exec(QSqlQuery& q, const QString& sql, const std::vector<QVariant>& values) {
    if (!q.prepare(sql)) return false;
    for (const QVariant& v : values) q.addBindValue(v);
    return q.exec();
}

Connection::Connection() : name_(NewConnectionName()) {}

Failure OpenFailure(const std::string& why) {
    // libpq's own words (the server's are in English unless its lc_messages
    // says otherwise).
    for (const char* outOfReach :
         {"Connection refused", "timeout expired", "Connection timed out",
          "the database system is starting up", "the database system is shutting down",
          "the database system is in recovery mode", "No route to host", "Network is unreachable",
          "server closed the connection unexpectedly", "Connection reset by peer",
          "could not receive data from server", "could not send data to server",
          "no connection to the server", "terminating connection due to administrator command"}) {
        if (why.find(outOfReach) != std::string::npos) return Failure::OutOfReach;
    }
    return Failure::Error;
}

Failure StatementFailure(const QSqlError& e, bool postgres) {
    const QString code = e.nativeErrorCode();
    if (!postgres) {
        // SQLITE_BUSY (5) and SQLITE_LOCKED (6), also as extended codes.
        bool number = false;
        const int sqlite = code.toInt(&number);
        if ((number && (sqlite % 256 == 5 || sqlite % 256 == 6)) ||
            e.databaseText().contains(QLatin1String("database is locked"))) {
            return Failure::Busy;
        }
        return Failure::Error;
    }
    // PostgreSQL: connection exceptions, a cancelled statement (our
    // statement_timeout), a lock not had in time (lock_timeout), a server
    // going down.
    if (code.startsWith(QLatin1String("08")) || code == QLatin1String("57014") ||
        code == QLatin1String("55P03") || code.startsWith(QLatin1String("57P"))) {
        return Failure::OutOfReach;
    }
    if (e.type() == QSqlError::ConnectionError) return Failure::OutOfReach;
    // A connection that broke under a statement says so only in words.
    return OpenFailure(S(e.databaseText()) + " " + S(e.driverText()));
}

bool Connection::Open(const DbTarget& t, std::string* error, int busyMs) {
    NeedApplication();
    Close();
    const bool sqlite = t.kind == DbTarget::Kind::Sqlite;
    const char* driver = sqlite ? "QSQLITE" : "QPSQL";
    if (!QSqlDatabase::isDriverAvailable(QLatin1String(driver))) {
        *error = std::string("Qt SQL has no ") + driver +
                 " driver here (Debian: " + (sqlite ? "libqt6sql6-sqlite" : "libqt6sql6-psql") +
                 ")";
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QLatin1String(driver), name_);
    added_ = true;
    if (sqlite) {
        const std::size_t sep = store::fsys::LastSeparator(t.path);
        if (sep != std::string::npos && sep > 0) store::fsys::MakeFolders(t.path.substr(0, sep));
        db.setDatabaseName(Q(t.path));
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs));
    } else {
        if (!t.host.empty()) db.setHostName(Q(t.host));
        if (t.port > 0) db.setPort(t.port);
        if (!t.database.empty()) db.setDatabaseName(Q(t.database));
        if (!t.user.empty()) db.setUserName(Q(t.user));
        // No password is ever set here: libpq reads ~/.pgpass, PGPASSFILE
        // and the service file itself.
        QStringList options;
        for (const auto& [key, value] : ConnectOptions(t)) options << Q(key + "=" + value);
        db.setConnectOptions(options.join(QLatin1Char(';')));
    }
    if (!db.open()) {
        *error = "cannot open " + t.text + ": " + Why(db.lastError());
        return false;
    }
    if (sqlite) {
        // WAL lets the report read while a station writes; FULL puts every
        // commit on the disk before the next module starts.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
            !q.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
            *error = "cannot set up " + t.path + ": " + Why(q.lastError());
            return false;
        }
    }
    return true;
}

void Connection::Close() {
    if (!added_) return;
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name_);
    added_ = false;
}

bool Connection::IsOpen() const {
    return added_ && QSqlDatabase::database(name_, false).isOpen();
}

QSqlDatabase Connection::Db() const {
    return QSqlDatabase::database(name_, false);
}

}  // namespace record
