#include "sql_migrations.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStringList>
#include <iterator>

#include "sql_connection.h"
#include "sql_record.h"

namespace record {

namespace {

// The schema files, applied in this order; a file's number is the version
// the schema has once it ran.
constexpr const char* kSchemaFiles[] = {"001_init.sql", "002_line.sql", "003_integrity.sql",
                                        "004_rules.sql", "005_more_channels.sql"};
constexpr int kLatest = static_cast<int>(std::size(kSchemaFiles));

// A schema file cut into statements: at each ";" outside quotes, comments
// and dollar-quoted function bodies, and inside an SQLite CREATE TRIGGER
// only at the ";" after its END.
QStringList Statements(const QString& text) {
    static const QRegularExpression dollarTag(QStringLiteral("^\\$[A-Za-z_]*\\$"));
    static const QRegularExpression trigger(
        QStringLiteral("^CREATE\\s+TRIGGER\\b.*\\bBEGIN\\b"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression endWord(QStringLiteral("\\bEND$"),
                                            QRegularExpression::CaseInsensitiveOption);
    QStringList statements;
    QString current;
    const auto keep = [&statements, &current] {
        if (!current.trimmed().isEmpty()) statements << current.trimmed();
        current.clear();
    };
    for (int i = 0; i < text.size();) {
        const QChar c = text[i];
        int skip = 0;  // how much of the text from i goes over unread
        if (c == QLatin1Char('-') && text.mid(i, 2) == QLatin1String("--")) {
            const int eol = text.indexOf(QLatin1Char('\n'), i);
            i = eol < 0 ? text.size() : eol;
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const int close = text.indexOf(c, i + 1);
            skip = (close < 0 ? text.size() : close + 1) - i;
        } else if (c == QLatin1Char('$')) {
            const auto tag = dollarTag.match(text.mid(i, 64));
            if (tag.hasMatch()) {
                const int close = text.indexOf(tag.captured(0), i + tag.capturedLength());
                skip = (close < 0 ? text.size() : close + tag.capturedLength()) - i;
            }
        } else if (c == QLatin1Char(';')) {
            const QString soFar = current.trimmed();
            if (!trigger.match(soFar).hasMatch() || endWord.match(soFar).hasMatch()) {
                keep();
                ++i;
                continue;
            }
        }
        if (skip == 0) skip = 1;
        current += text.mid(i, skip);
        i += skip;
    }
    keep();
    return statements;
}

// Runs a schema file, its statements one by one.
bool ExecScript(QSqlDatabase db, const QString& text, std::string* error) {
    for (const QString& statement : Statements(text)) {
        QSqlQuery q(db);
        if (!q.exec(statement)) {
            *error = Why(q.lastError()) + " in: " + S(statement.left(80));
            return false;
        }
    }
    return true;
}

bool ExecResource(QSqlDatabase db, const QString& path, std::string* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = "schema file missing: " + S(path);
        return false;
    }
    return ExecScript(db, QString::fromUtf8(file.readAll()), error);
}

// The station group's grants, once the group exists; *note says what is
// missing when it does not.
bool GrantStations(QSqlDatabase db, std::string* note, std::string* error) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral(
            "SELECT to_regrole('modsetup_station') IS NOT NULL, pg_has_role(relowner, 'MEMBER'), "
            "pg_get_userbyid(relowner) FROM pg_class WHERE oid = 'attempts'::regclass")) ||
        !q.next()) {
        *error = Why(q.lastError());
        return false;
    }
    // Anyone else's GRANT gives nothing, with no more than a warning.
    if (!q.value(1).toBool()) {
        if (note) {
            *note = "the station group's grants are given by the owner of the tables (" +
                    S(q.value(2).toString()) + "): run db init as that user";
        }
        return true;
    }
    if (!q.value(0).toBool()) {
        if (note) {
            *note =
                "role modsetup_station does not exist yet: a superuser (or a role with "
                "CREATEROLE) runs record/sql/postgresql/station_role.sql, then run db init "
                "again to grant it what a station may do";
        }
        return true;
    }
    if (!db.transaction()) {
        *error = "cannot start a transaction: " + Why(db.lastError());
        return false;
    }
    std::string why;
    if (!ExecResource(db, QStringLiteral(":/record/sql/postgresql/station_grants.sql"), &why) ||
        !db.commit()) {
        if (why.empty()) why = Why(db.lastError());
        db.rollback();
        *error = "station_grants.sql: " + why;
        return false;
    }
    if (note) *note = "granted modsetup_station what a station may do";
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
        std::string why;
        const bool applied =
            ExecResource(db,
                         QStringLiteral(":/record/sql/%1/%2")
                             .arg(QLatin1String(dialect), QLatin1String(kSchemaFiles[version - 1])),
                         &why) &&
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

bool InitDatabase(const std::string& uri, int upTo, std::string* done, std::string* error,
                  std::string* note) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target = ParseDbUri(uri, error);
    if (!target) return false;
    const bool postgres = target->kind == DbTarget::Kind::Postgres;
    Connection c;
    if (!c.Open(*target, error) || !Migrate(c.Db(), postgres, upTo, done, error)) return false;
    // The grants are for the tables of the latest schema.
    if (!postgres || SchemaVersionOf(c.Db(), true) != kLatest) return true;
    return GrantStations(c.Db(), note, error);
}

}  // namespace record
