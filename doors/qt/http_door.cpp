#include "http_door.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <chrono>

#include "metrics_text.h"
#include "status_json.h"

namespace doors {

namespace {

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char kJson[] = "application/json";

}  // namespace

struct HttpDoor::Connection {
    QTcpSocket* socket = nullptr;
    std::string in;
    long long requestStartedMs = -1;  // first byte of an unfinished request
    long long lastActivityMs = 0;
    long long served = 0;
    bool stream = false;
    bool closing = false;
    std::uint64_t command = 0;  // awaiting the station's answer
    long long commandSentMs = 0;
    bool closeAfterAnswer = false;
};

HttpDoor::HttpDoor(Hub& hub, std::string token, HttpDoorLimits limits)
    : hub_(hub), token_(std::move(token)), limits_(limits), client_(hub, 4096, [this] {
          QMetaObject::invokeMethod(
              this, [this] { Drain(); }, Qt::QueuedConnection);
      }) {
    server_.setMaxPendingConnections(limits_.clients);
    connect(&server_, &QTcpServer::newConnection, this, [this] { OnNewConnections(); });
    sweep_.setInterval(500);
    connect(&sweep_, &QTimer::timeout, this, [this] { Sweep(); });
}

HttpDoor::~HttpDoor() {
    // What the station answered just before the doors close (POST /stop
    // ends the program) still reaches its client: the answers waiting are
    // handed out and written to the system before the connections go.
    Drain();
    for (auto& [socket, c] : connections_) {
        socket->flush();
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
    }
}

bool HttpDoor::Listen(const Endpoint& at, std::string* error) {
    if (!server_.listen(QHostAddress(QString::fromStdString(at.host)),
                        static_cast<quint16>(at.port))) {
        *error = "HTTP: cannot listen on " + at.Text() + ": " + server_.errorString().toStdString();
        return false;
    }
    sweep_.start();
    return true;
}

int HttpDoor::Port() const {
    return server_.serverPort();
}

void HttpDoor::OnNewConnections() {
    while (server_.hasPendingConnections()) {
        QTcpSocket* socket = server_.nextPendingConnection();
        if (static_cast<int>(connections_.size()) >= limits_.clients) {
            // Make room by the connection that has given least: nothing
            // served yet, and quiet the longest. Streams and requests
            // waiting for the station keep their place.
            Connection* victim = nullptr;
            for (auto& [s, c] : connections_) {
                if (c->stream || c->command || c->closing) continue;
                if (!victim || (c->served == 0 && victim->served != 0) ||
                    ((c->served == 0) == (victim->served == 0) &&
                     c->lastActivityMs < victim->lastActivityMs)) {
                    victim = c.get();
                }
            }
            if (!victim) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            Close(victim->socket, true);
        }
        auto c = std::make_unique<Connection>();
        c->socket = socket;
        c->lastActivityMs = NowMs();
        socket->setReadBufferSize(
            static_cast<qint64>(limits_.request.headerBytes + limits_.request.body + 1024));
        // The socket is the context, so nothing queued for it outlives it.
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { OnReadable(socket); });
        connect(
            socket, &QTcpSocket::disconnected, socket, [this, socket] { Close(socket, false); },
            Qt::QueuedConnection);
        connections_[socket] = std::move(c);
    }
}

void HttpDoor::Close(QTcpSocket* socket, bool abort) {
    const auto it = connections_.find(socket);
    if (it == connections_.end()) return;
    if (it->second->stream) --streams_;
    if (it->second->command) asked_.erase(it->second->command);
    connections_.erase(it);
    socket->disconnect();
    if (abort) {
        socket->abort();
    } else {
        socket->disconnectFromHost();
    }
    socket->deleteLater();
}

void HttpDoor::OnReadable(QTcpSocket* socket) {
    const auto it = connections_.find(socket);
    if (it == connections_.end()) return;
    Connection& c = *it->second;
    const std::size_t most = limits_.request.headerBytes + limits_.request.body + 1024;
    char buffer[16384];
    while (socket->bytesAvailable() > 0) {
        const qint64 n = socket->read(buffer, sizeof buffer);
        if (n <= 0) break;
        if (c.stream || c.closing) continue;  // nothing more is read from them
        if (c.in.empty() && c.requestStartedMs < 0) c.requestStartedMs = NowMs();
        c.in.append(buffer, static_cast<std::size_t>(n));
        c.lastActivityMs = NowMs();
        if (c.in.size() > most) break;
    }
    Serve(c);
}

void HttpDoor::Serve(Connection& c) {
    // One request at a time; a pipelined one waits for the answer before.
    while (!c.stream && !c.closing && c.command == 0 && !c.in.empty()) {
        HttpRequest request;
        const ParseResult r = ParseRequest(c.in, limits_.request, &request);
        if (r.status == ParseStatus::NeedMore) {
            if (c.in.size() > limits_.request.headerBytes + limits_.request.body + 1024) {
                Answer(c, 431, kJson, ReplyJson(Reply::Refused("request too large")), true);
            }
            return;
        }
        if (r.status == ParseStatus::Bad) {
            Answer(c, r.httpStatus, kJson, ReplyJson(Reply::Refused(r.why)), true);
            return;
        }
        c.requestStartedMs = c.in.empty() ? -1 : NowMs();
        ++c.served;
        Handle(c, request);
    }
    if (c.in.empty()) c.requestStartedMs = -1;
}

void HttpDoor::Answer(Connection& c, int status, const std::string& contentType,
                      const std::string& body, bool close, const std::string& extra) {
    const std::string response = HttpResponse(status, contentType, body, close, extra);
    c.socket->write(response.data(), static_cast<qint64>(response.size()));
    // Out now rather than on the next turn of the loop.
    c.socket->flush();
    c.lastActivityMs = NowMs();
    if (close) {
        c.closing = true;
        c.in.clear();
        c.socket->disconnectFromHost();
    }
}

void HttpDoor::Handle(Connection& c, const HttpRequest& request) {
    const bool close = !request.KeepAlive();
    if (!token_.empty() && !BearerMatches(request.Header("authorization"), token_)) {
        Answer(c, 401, kJson, ReplyJson(Reply::Refused("a valid bearer token is needed")), true,
               "WWW-Authenticate: Bearer\r\n");
        return;
    }
    const std::string& path = request.path;
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    if (path == "/status" || path == "/metrics" || path == "/events") {
        if (!get) {
            Answer(c, 405, kJson, ReplyJson(Reply::Refused(path + " takes GET")), close,
                   "Allow: GET\r\n");
            return;
        }
        if (path == "/status") {
            const std::shared_ptr<const Snapshot> now = hub_.Current();
            if (now != statusOf_) {
                status_ = StatusJson(*now);
                statusOf_ = now;
            }
            Answer(c, 200, kJson, status_, close);
        } else if (path == "/metrics") {
            Answer(c, 200, "text/plain; version=0.0.4; charset=utf-8",
                   MetricsText(*hub_.Current(), hub_.Totals(), hub_.DroppedTotal()), close);
        } else if (streams_ >= limits_.eventStreams) {
            Answer(c, 503, kJson, ReplyJson(Reply::Refused("too many event streams")), close);
        } else {
            ++streams_;
            c.stream = true;
            c.in.clear();
            const std::string head =
                "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: "
                "no-store\r\nConnection: keep-alive\r\n\r\n" +
                SseStatus(*hub_.Current());
            c.socket->write(head.data(), static_cast<qint64>(head.size()));
            c.lastActivityMs = NowMs();
        }
        return;
    }
    Command command;
    if (path == "/pause") {
        command.kind = CommandKind::Pause;
    } else if (path == "/resume") {
        command.kind = CommandKind::Resume;
    } else if (path == "/stop") {
        command.kind = CommandKind::Stop;
    } else if (path == "/start") {
        command.kind = CommandKind::Start;
    } else {
        Answer(c, 404, kJson, ReplyJson(Reply::Refused("no such resource: " + path)), close);
        return;
    }
    if (!post) {
        // Control never on GET, so no link or prefetch can stop a station.
        Answer(c, 405, kJson, ReplyJson(Reply::Refused(path + " takes POST")), close,
               "Allow: POST\r\n");
        return;
    }
    command.origin = "http " + c.socket->peerAddress().toString().toStdString();
    c.command = client_.Send(std::move(command));
    c.commandSentMs = NowMs();
    c.closeAfterAnswer = close;
    asked_[c.command] = c.socket;
}

void HttpDoor::Drain() {
    const Delivery d = client_.Take();
    for (const auto& [id, reply] : d.replies) {
        const auto it = asked_.find(id);
        if (it == asked_.end()) continue;
        QTcpSocket* socket = it->second;
        asked_.erase(it);
        const auto found = connections_.find(socket);
        if (found == connections_.end()) continue;
        Connection& c = *found->second;
        c.command = 0;
        Answer(c, reply.ok ? 200 : 409, kJson, ReplyJson(reply), c.closeAfterAnswer);
        Serve(c);
    }
    if (streams_ == 0 || (d.events.empty() && d.dropped == 0)) return;
    std::string text;
    if (d.dropped) {
        // Whoever missed events starts again from the whole state.
        text = SseStatus(*hub_.Current());
    } else {
        for (const Event& e : d.events) text += SseEvent(e);
    }
    std::vector<QTcpSocket*> slow;
    for (auto& [socket, c] : connections_) {
        if (!c->stream) continue;
        if (socket->bytesToWrite() > limits_.streamBacklog) {
            slow.push_back(socket);
            continue;
        }
        socket->write(text.data(), static_cast<qint64>(text.size()));
        c->lastActivityMs = NowMs();
    }
    for (QTcpSocket* s : slow) Close(s, true);
}

void HttpDoor::Sweep() {
    const long long now = NowMs();
    std::vector<std::pair<QTcpSocket*, int>> late;  // 0: just close
    for (auto& [socket, c] : connections_) {
        if (c->closing) {
            if (now - c->lastActivityMs > 2000) late.emplace_back(socket, 0);
        } else if (c->stream) {
            if (now - c->lastActivityMs > 15000) {
                // A comment line, so a proxy or a dead peer is found out.
                socket->write(": keep-alive\n\n");
                c->lastActivityMs = now;
            }
        } else if (c->command) {
            if (now - c->commandSentMs > limits_.answerMs) late.emplace_back(socket, 503);
        } else if (c->requestStartedMs >= 0) {
            if (now - c->requestStartedMs > limits_.requestMs) late.emplace_back(socket, 408);
        } else if (now - c->lastActivityMs > limits_.idleMs) {
            late.emplace_back(socket, 0);
        }
    }
    for (const auto& [socket, status] : late) {
        const auto it = connections_.find(socket);
        if (it == connections_.end()) continue;
        Connection& c = *it->second;
        if (status == 503) {
            asked_.erase(c.command);
            c.command = 0;
            Answer(c, 503, kJson, ReplyJson(Reply::Refused("the station did not answer")), true);
        } else if (status == 408) {
            Answer(c, 408, kJson, ReplyJson(Reply::Refused("the request took too long")), true);
        } else {
            Close(socket, c.closing);
        }
    }
}

}  // namespace doors
