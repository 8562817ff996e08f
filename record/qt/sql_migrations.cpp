#include "sql_migrations.h"

#include <QFile>
#include <QSqlQuery>
#include <QStringList>
#include <iterator>

#include "sql_connection.h"
#include "sql_record.h"

namespace record {

namespace {

// The schema files, applied in this order; a file's number is the version
// the schema has once it ran.
constexpr const char* kSchemaFiles[] = {"001_init.sql", "002_line.sql", "003_integrity.sql"};
constexpr int kLatest = static_cast<int>(std::size(kSchemaFiles));

// Runs a schema file: its statements one by one, comment lines left out.
bool ExecScript(QSqlDatabase db, const QString& text, std::string* error) {
    QStringList kept;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (!line.trimmed().startsWith(QLatin1String("--"))) kept << line;
    }
    for (const QString& statement : kept.join(QLatin1Char('\n')).split(QLatin1Char(';'))) {
        if (statement.trimmed().isEmpty()) continue;
        QSqlQuery q(db);
        if (!q.exec(statement)) {
            *error = Why(q.lastError()) + " in: " + S(statement.trimmed().left(80));
            return false;
        }
    }
    return true;
}

}  // namespace

int LatestSchemaVersion() {
    return kLatest;
}

int SchemaVersionOf(QSqlDatabase db, bool postgres) {
    QSqlQuery q(db);
    // Asked without an error for a missing table, which would end a
    // PostgreSQL transaction.
    if (!q.exec(postgres ? QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")
                         : QStringLiteral("SELECT count(*) > 0 FROM sqlite_master WHERE "
                                          "name = 'schema_version'")) ||
        !q.next() || !q.value(0).toBool()) {
        return 0;
    }
    if (!q.exec(QStringLiteral("SELECT version FROM schema_version")) || !q.next()) return 0;
    return q.value(0).toInt();
}

bool Migrate(QSqlDatabase db, bool postgres, int upTo, std::string* done, std::string* error) {
    const char* dialect = postgres ? "postgresql" : "sqlite";
    if (upTo <= 0 || upTo > kLatest) upTo = kLatest;
    for (int version = 1; version <= upTo; ++version) {
        if (!db.transaction()) {
            *error = "cannot start a transaction: " + Why(db.lastError());
            return false;
        }
        QSqlQuery q(db);
        // Two stations running db init at once: the second waits, then sees
        // the version the first made.
        if (postgres) q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(434000434)"));
        if (SchemaVersionOf(db, postgres) >= version) {
            db.rollback();
            continue;
        }
        QFile file(QStringLiteral(":/record/sql/%1/%2")
                       .arg(QLatin1String(dialect), QLatin1String(kSchemaFiles[version - 1])));
        if (!file.open(QIODevice::ReadOnly)) {
            db.rollback();
            *error = std::string("schema file missing: ") + kSchemaFiles[version - 1];
            return false;
        }
        std::string why;
        const bool applied =
            ExecScript(db, QString::fromUtf8(file.readAll()), &why) &&
            q.exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(version));
        if (!applied || !db.commit()) {
            if (why.empty()) why = Why(q.lastError().isValid() ? q.lastError() : db.lastError());
            db.rollback();
            *error = std::string(kSchemaFiles[version - 1]) + ": " + why;
            return false;
        }
        if (done) *done += std::string(done->empty() ? "" : ", ") + kSchemaFiles[version - 1];
    }
    return true;
}

bool InitDatabase(const std::string& uri, int upTo, std::string* done, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target = ParseDbUri(uri, error);
    if (!target) return false;
    Connection c;
    if (!c.Open(*target, error)) return false;
    return Migrate(c.Db(), target->kind == DbTarget::Kind::Postgres, upTo, done, error);
}

}  // namespace record
