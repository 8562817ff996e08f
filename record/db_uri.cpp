#include "db_uri.h"

#include <cctype>
#include <cstdlib>

namespace record {

namespace {

bool PercentDecode(const std::string& in, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            *out += in[i];
            continue;
        }
        if (i + 2 >= in.size() || !std::isxdigit(static_cast<unsigned char>(in[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(in[i + 2]))) {
            return false;
        }
        *out += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

constexpr const char kNoPassword[] =
    "a password in --db shows in the process list; put it in ~/.pgpass (or the file "
    "PGPASSFILE names) or a service file instead";

// The connection options go to libpq as "key=value" words; a value that
// could run into the next word is refused rather than passed on cut.
bool AddOption(DbTarget* t, const std::string& key, const std::string& value, std::string* error) {
    if (key == "password") {
        *error = kNoPassword;
        return false;
    }
    if (key.empty() || value.find_first_of(" \t\r\n;'\\") != std::string::npos ||
        key.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") != std::string::npos) {
        *error = "bad connection option \"" + key + "=" + value + "\" in --db";
        return false;
    }
    if (key == "host") {
        t->host = value;
    } else if (key == "port") {
        t->port = std::atoi(value.c_str());
    } else if (key == "dbname") {
        t->database = value;
    } else if (key == "user") {
        t->user = value;
    } else {
        t->options.emplace_back(key, value);
    }
    return true;
}

}  // namespace

std::optional<DbTarget> ParseDbUri(const std::string& uri, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    DbTarget t;
    t.text = uri;
    if (uri.rfind("sqlite:", 0) == 0) {
        t.kind = DbTarget::Kind::Sqlite;
        t.path = uri.substr(7);
        if (t.path.rfind("//", 0) == 0) t.path = t.path.substr(2);  // sqlite:///abs/path
        if (t.path.empty()) {
            *error = "--db sqlite: needs a file name (sqlite:PATH)";
            return std::nullopt;
        }
        return t;
    }
    t.kind = DbTarget::Kind::Postgres;
    for (const char* prefix : {"postgres:", "postgresql:"}) {
        const std::string p = prefix;
        if (uri.rfind(p, 0) == 0 && uri.compare(p.size(), 2, "//") != 0) {
            // Keyword form: "postgres:service=line2 sslmode=verify-full".
            std::size_t at = p.size();
            while (at < uri.size()) {
                const std::size_t end = uri.find(' ', at);
                const std::string word = uri.substr(at, end == std::string::npos ? end : end - at);
                at = end == std::string::npos ? uri.size() : end + 1;
                if (word.empty()) continue;
                const std::size_t eq = word.find('=');
                if (eq == std::string::npos) {
                    *error = "--db " + uri + ": expected key=value, e.g. postgres:service=NAME";
                    return std::nullopt;
                }
                if (!AddOption(&t, word.substr(0, eq), word.substr(eq + 1), error)) {
                    return std::nullopt;
                }
            }
            return t;
        }
    }
    std::size_t at = 0;
    if (uri.rfind("postgresql://", 0) == 0) {
        at = 13;
    } else if (uri.rfind("postgres://", 0) == 0) {
        at = 11;
    } else {
        *error =
            "--db " + uri + ": expected sqlite:PATH, postgresql://... or postgres:service=NAME";
        return std::nullopt;
    }
    const std::size_t query = uri.find('?', at);
    const std::string rest = uri.substr(at, query == std::string::npos ? query : query - at);
    const std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos && !PercentDecode(rest.substr(slash + 1), &t.database)) {
        *error = "--db " + uri + ": bad %-escape";
        return std::nullopt;
    }
    const std::size_t atSign = authority.rfind('@');
    if (atSign != std::string::npos) {
        const std::string userInfo = authority.substr(0, atSign);
        authority = authority.substr(atSign + 1);
        if (userInfo.find(':') != std::string::npos) {
            *error = kNoPassword;
            return std::nullopt;
        }
        if (!PercentDecode(userInfo, &t.user)) {
            *error = "--db " + uri + ": bad %-escape";
            return std::nullopt;
        }
    }
    // host, host:port, [v6]:port
    std::string host = authority;
    std::string port;
    if (!host.empty() && host[0] == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos) {
            *error = "--db " + uri + ": unclosed [ in the host";
            return std::nullopt;
        }
        if (close + 1 < host.size() && host[close + 1] == ':') port = host.substr(close + 2);
        host = host.substr(1, close - 1);
    } else if (const std::size_t colon = host.find(':'); colon != std::string::npos) {
        port = host.substr(colon + 1);
        host = host.substr(0, colon);
    }
    if (!PercentDecode(host, &t.host)) {
        *error = "--db " + uri + ": bad %-escape";
        return std::nullopt;
    }
    if (!port.empty()) {
        if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5) {
            *error = "--db " + uri + ": bad port \"" + port + "\"";
            return std::nullopt;
        }
        t.port = std::atoi(port.c_str());
    }
    if (query != std::string::npos) {
        std::size_t q = query + 1;
        while (q <= uri.size()) {
            const std::size_t amp = uri.find('&', q);
            const std::string pair = uri.substr(q, amp == std::string::npos ? amp : amp - q);
            q = amp == std::string::npos ? uri.size() + 1 : amp + 1;
            if (pair.empty()) continue;
            const std::size_t eq = pair.find('=');
            std::string key, value;
            if (eq == std::string::npos || !PercentDecode(pair.substr(0, eq), &key) ||
                !PercentDecode(pair.substr(eq + 1), &value)) {
                *error = "--db " + uri + ": bad parameter \"" + pair + "\"";
                return std::nullopt;
            }
            if (!AddOption(&t, key, value, error)) return std::nullopt;
        }
    }
    return t;
}

std::vector<std::pair<std::string, std::string>> ConnectOptions(const DbTarget& target) {
    auto options = target.options;
    bool timeout = false;
    for (const auto& option : options) timeout = timeout || option.first == "connect_timeout";
    if (!timeout) options.emplace_back("connect_timeout", "3");
    return options;
}

}  // namespace record
