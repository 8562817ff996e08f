#pragma once

// HTTP/1.1 requests read with hard limits, since whoever is on the line's
// network may send anything: a request line, header block and body each
// have a most, and so does the number of header fields. Nothing here waits
// or reads a socket; the server feeds it what arrived.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace doors {

struct HttpLimits {
    std::size_t requestLine = 2048;
    std::size_t headerBytes = 8192;  // the whole head, request line included
    std::size_t headerCount = 32;
    std::size_t body = 1024;  // the control requests carry none
};

struct HttpRequest {
    std::string method;
    std::string path;                                          // the target without its query
    std::string version;                                       // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
    std::string body;

    // The first field of that name (lower case), or empty.
    std::string Header(std::string_view name) const;
    bool KeepAlive() const;
};

enum class ParseStatus { NeedMore, Complete, Bad };

struct ParseResult {
    ParseStatus status = ParseStatus::NeedMore;
    int httpStatus = 0;  // Bad: 400, 413, 414, 431, 501, 505
    std::string why;     // Bad: for the answer's body
};

// Takes one request from the front of buffer when it is whole, and erases
// it there; the bytes after it (a pipelined request) stay.
ParseResult ParseRequest(std::string& buffer, const HttpLimits& limits, HttpRequest* request);

// A whole answer with Content-Length; close adds "Connection: close".
std::string HttpResponse(int status, std::string_view contentType, std::string_view body,
                         bool close, std::string_view extraHeaders = {});
const char* StatusReason(int status);

}  // namespace doors
