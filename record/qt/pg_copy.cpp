#include "pg_copy.h"

#include <libpq-fe.h>

#include <memory>

namespace record {

namespace {

struct Closer {
    void operator()(PGconn* c) const { PQfinish(c); }
};

std::string Trimmed(const char* message) {
    std::string s = message ? message : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

int Octal(char c) {
    return c >= '0' && c <= '7' ? c - '0' : -1;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One line of COPY's text format: fields apart at tabs, "\N" for NULL,
// backslash escapes for the control bytes and the backslash itself.
void SplitCopyLine(const char* data, int size, std::vector<std::string>* fields) {
    fields->clear();
    fields->emplace_back();
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n') break;
        if (c == '\t') {
            fields->emplace_back();
            continue;
        }
        std::string& f = fields->back();
        if (c != '\\' || i + 1 >= size) {
            f += c;
            continue;
        }
        const char e = data[++i];
        switch (e) {
            case 'N': break;  // NULL: left empty
            case 'b': f += '\b'; break;
            case 'f': f += '\f'; break;
            case 'n': f += '\n'; break;
            case 'r': f += '\r'; break;
            case 't': f += '\t'; break;
            case 'v': f += '\v'; break;
            case 'x': {
                int v = 0, n = 0;
                for (; n < 2 && i + 1 < size && Hex(data[i + 1]) >= 0; ++n) v = v * 16 + Hex(data[++i]);
                f += n ? static_cast<char>(v) : 'x';
                break;
            }
            default:
                if (Octal(e) >= 0) {
                    int v = Octal(e);
                    for (int n = 1; n < 3 && i + 1 < size && Octal(data[i + 1]) >= 0; ++n)
                        v = v * 8 + Octal(data[++i]);
                    f += static_cast<char>(v);
                } else {
                    f += e;
                }
        }
    }
}

}  // namespace

bool CopyRows(const DbTarget& target, const std::string& select,
              const std::vector<std::string>& args,
              const std::function<bool(const std::vector<std::string>&)>& each,
              std::string* error) {
    std::vector<std::string> keys, values;
    const auto put = [&](const std::string& key, const std::string& value) {
        if (value.empty()) return;
        keys.push_back(key);
        values.push_back(value);
    };
    put("host", target.host);
    put("port", target.port > 0 ? std::to_string(target.port) : std::string());
    put("dbname", target.database);
    put("user", target.user);
    for (const auto& [key, value] : ConnectOptions(target)) put(key, value);
    std::vector<const char*> k, v;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        k.push_back(keys[i].c_str());
        v.push_back(values[i].c_str());
    }
    k.push_back(nullptr);
    v.push_back(nullptr);
    std::unique_ptr<PGconn, Closer> conn(PQconnectdbParams(k.data(), v.data(), 0));
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK) {
        *error = "cannot open " + target.text + ": " +
                 Trimmed(conn ? PQerrorMessage(conn.get()) : "out of memory");
        return false;
    }
    std::string sql = "COPY (";
    std::size_t next = 0;
    for (const char c : select) {
        if (c != '?' || next >= args.size()) {
            sql += c;
            continue;
        }
        const std::string& a = args[next++];
        char* quoted = PQescapeLiteral(conn.get(), a.c_str(), a.size());
        if (!quoted) {
            *error = "cannot read " + target.text + ": " + Trimmed(PQerrorMessage(conn.get()));
            return false;
        }
        sql += quoted;
        PQfreemem(quoted);
    }
    sql += ") TO STDOUT";
    PGresult* started = PQexec(conn.get(), sql.c_str());
    const bool copying = PQresultStatus(started) == PGRES_COPY_OUT;
    if (!copying) *error = "cannot read " + target.text + ": " + Trimmed(PQresultErrorMessage(started));
    PQclear(started);
    if (!copying) return false;
    std::vector<std::string> fields;
    bool going = true;
    for (;;) {
        char* line = nullptr;
        const int size = PQgetCopyData(conn.get(), &line, 0);
        if (size < 0) break;  // -1: done; -2: failed, said by the result below
        if (going) {
            SplitCopyLine(line, size, &fields);
            going = each(fields);
        }
        PQfreemem(line);
    }
    // The rest of the rows still come after a stop; reading on ends the copy
    // cleanly.
    bool ok = true;
    while (PGresult* r = PQgetResult(conn.get())) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK) {
            *error = "cannot read " + target.text + ": " + Trimmed(PQresultErrorMessage(r));
            ok = false;
        }
        PQclear(r);
    }
    return ok && going;
}

}  // namespace record
