#pragma once

// The HTTP door: GET /status, /events (Server-Sent Events) and /metrics,
// POST /pause, /resume, /stop and /start. A small HTTP/1.1 server of its
// own on QTcpServer, since Qt HttpServer 6.4 can bound neither the size of a
// request, nor its header count, nor the time a client takes to send it.
//
// Whoever connects gets a bounded share: a request must be whole within a
// few seconds of its first byte and within the size limits, an idle
// connection is closed, and at the client limit a newcomer takes the place
// of the connection that has served nothing and waited longest.

#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "door_options.h"
#include "http_request.h"
#include "hub.h"

class QTcpSocket;

namespace doors {

struct HttpDoorLimits {
    HttpLimits request;
    int clients = 64;
    int eventStreams = 16;
    int requestMs = 5000;               // from a request's first byte to its last
    int idleMs = 10000;                 // a connection with no request under way
    int answerMs = 5000;                // the station's answer to a command
    long long streamBacklog = 1 << 20;  // unsent event bytes before a reader is cut off
};

class HttpDoor : public QObject {
  public:
    HttpDoor(Hub& hub, std::string token, HttpDoorLimits limits = {});
    ~HttpDoor() override;

    bool Listen(const Endpoint& at, std::string* error);
    int Port() const;

  private:
    struct Connection;

    void OnNewConnections();
    void OnReadable(QTcpSocket* socket);
    void Serve(Connection& c);
    void Handle(Connection& c, const HttpRequest& request);
    void Answer(Connection& c, int status, const std::string& contentType, const std::string& body,
                bool close, const std::string& extra = {});
    void Close(QTcpSocket* socket, bool abort);
    void Drain();
    void Sweep();

    Hub& hub_;
    std::string token_;
    HttpDoorLimits limits_;
    QTcpServer server_;
    QTimer sweep_;
    std::unordered_map<QTcpSocket*, std::unique_ptr<Connection>> connections_;
    std::unordered_map<std::uint64_t, QTcpSocket*> asked_;  // command id -> its request
    int streams_ = 0;
    // /status made once per snapshot, however many clients poll it.
    std::shared_ptr<const Snapshot> statusOf_;
    std::string status_;
    // Last, so it goes first: no wake arrives for a half-destroyed door.
    Hub::Client client_;
};

}  // namespace doors
