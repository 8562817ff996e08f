#include "http_request.h"

namespace doors {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool IsToken(std::string_view s) {
    if (s.empty()) return false;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || c == ':' || c == '"' || c == '(' || c == ')' || c == ',' ||
            c == '/' || c == ';' || c == '<' || c == '>' || c == '=' || c == '?' || c == '@' ||
            c == '[' || c == ']' || c == '\\' || c == '{' || c == '}') {
            return false;
        }
    }
    return true;
}

ParseResult Bad(int status, std::string why) {
    return {ParseStatus::Bad, status, std::move(why)};
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
    for (const auto& [n, v] : headers) {
        if (n == name) return v;
    }
    return {};
}

bool HttpRequest::KeepAlive() const {
    const std::string connection = Lower(Header("connection"));
    if (version == "HTTP/1.0") return connection.find("keep-alive") != std::string::npos;
    return connection.find("close") == std::string::npos;
}

ParseResult ParseRequest(std::string& buffer, const HttpLimits& limits, HttpRequest* request) {
    // Empty lines before a request are allowed (a client's stray CR LF).
    std::size_t start = 0;
    while (start < buffer.size() && (buffer[start] == '\r' || buffer[start] == '\n')) ++start;
    if (start > 0) buffer.erase(0, start);

    // A method is a short word in capitals: anything else (a TLS hello, a
    // stray binary protocol) is answered at once, not after the time limit.
    for (std::size_t i = 0; i < buffer.size() && buffer[i] != ' '; ++i) {
        if (buffer[i] < 'A' || buffer[i] > 'Z' || i >= 16)
            return Bad(400, "malformed request line");
    }
    const std::size_t lineEnd = buffer.find('\n');
    if (lineEnd == std::string::npos) {
        if (buffer.size() > limits.requestLine) return Bad(414, "request line too long");
        return {};
    }
    if (lineEnd > limits.requestLine) return Bad(414, "request line too long");

    // The head ends at the first empty line; a bare LF is taken for CR LF.
    std::size_t headEnd = std::string::npos;
    std::size_t bodyStart = 0;
    for (std::size_t at = lineEnd; at != std::string::npos; at = buffer.find('\n', at + 1)) {
        if (at + 1 < buffer.size() && buffer[at + 1] == '\n') {
            headEnd = at + 1;
            bodyStart = at + 2;
            break;
        }
        if (at + 2 < buffer.size() && buffer[at + 1] == '\r' && buffer[at + 2] == '\n') {
            headEnd = at + 1;
            bodyStart = at + 3;
            break;
        }
        if (at > limits.headerBytes) break;
    }
    if (headEnd == std::string::npos) {
        if (buffer.size() > limits.headerBytes) return Bad(431, "request header too large");
        return {};
    }
    if (headEnd > limits.headerBytes) return Bad(431, "request header too large");

    HttpRequest r;
    std::vector<std::string_view> lines;
    const std::string_view head(buffer.data(), headEnd);
    for (std::size_t pos = 0; pos < head.size();) {
        std::size_t nl = head.find('\n', pos);
        if (nl == std::string_view::npos) nl = head.size();
        std::string_view line = head.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        pos = nl + 1;
    }
    // Request line: METHOD SP TARGET SP VERSION
    const std::string_view first = lines.front();
    const std::size_t sp1 = first.find(' ');
    const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : first.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || first.find(' ', sp2 + 1) != std::string_view::npos) {
        return Bad(400, "malformed request line");
    }
    r.method = std::string(first.substr(0, sp1));
    const std::string_view target = first.substr(sp1 + 1, sp2 - sp1 - 1);
    r.version = std::string(first.substr(sp2 + 1));
    if (!IsToken(r.method) || target.empty() || target.front() != '/') {
        return Bad(400, "malformed request line");
    }
    if (r.version != "HTTP/1.1" && r.version != "HTTP/1.0") {
        return Bad(505, "only HTTP/1.0 and HTTP/1.1 are spoken here");
    }
    r.path = std::string(target.substr(0, target.find('?')));

    if (lines.size() - 1 > limits.headerCount) return Bad(431, "too many header fields");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            return Bad(400, "folded header lines are not accepted");
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) {
            return Bad(400, "malformed header field");
        }
        r.headers.emplace_back(Lower(line.substr(0, colon)),
                               std::string(Trim(line.substr(colon + 1))));
    }
    if (r.version == "HTTP/1.1" && r.Header("host").empty()) {
        bool hasHost = false;
        for (const auto& h : r.headers) hasHost = hasHost || h.first == "host";
        if (!hasHost) return Bad(400, "HTTP/1.1 needs a Host field");
    }
    if (!r.Header("transfer-encoding").empty()) {
        return Bad(501, "chunked request bodies are not accepted");
    }
    std::size_t length = 0;
    bool haveLength = false;
    for (const auto& [name, value] : r.headers) {
        if (name != "content-length") continue;
        if (value.empty() || value.size() > 9 ||
            value.find_first_not_of("0123456789") != std::string::npos) {
            return Bad(400, "malformed Content-Length");
        }
        const std::size_t n = std::stoul(value);
        if (haveLength && n != length) return Bad(400, "two different Content-Length fields");
        length = n;
        haveLength = true;
    }
    if (length > limits.body) return Bad(413, "request body too large");
    if (buffer.size() < bodyStart + length) return {};
    r.body = buffer.substr(bodyStart, length);
    buffer.erase(0, bodyStart + length);
    *request = std::move(r);
    return {ParseStatus::Complete, 0, {}};
}

const char* StatusReason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        case 431:
            return "Request Header Fields Too Large";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        case 505:
            return "HTTP Version Not Supported";
    }
    return "Error";
}

std::string HttpResponse(int status, std::string_view contentType, std::string_view body,
                         bool close, std::string_view extraHeaders) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + StatusReason(status) + "\r\n";
    out += "Content-Type: ";
    out += contentType;
    out += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nCache-Control: no-store\r\n";
    if (close) out += "Connection: close\r\n";
    out += extraHeaders;
    out += "\r\n";
    out += body;
    return out;
}

}  // namespace doors
