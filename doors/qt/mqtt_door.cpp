#include "mqtt_door.h"

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "mes_messages.h"

namespace doors {

namespace {

// Messages handed to the library at once; the rest wait in the outbox, so
// a long outage never wraps the 16-bit message ids.
constexpr std::size_t kWindow = 200;
constexpr int kKeepAliveSeconds = 15;
constexpr long long kConnectTimeoutMs = 10000;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::once_flag libraryOnce;

}  // namespace

MqttDoor::MqttDoor(Hub& hub, MqttSettings settings) : hub_(hub), s_(std::move(settings)) {}

MqttDoor::~MqttDoor() {
    if (thread_.joinable()) {
        stop_ = true;
        const std::uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    client_.reset();
    if (m_) mosquitto_destroy(m_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool MqttDoor::Start(std::string* error, int waitMs) {
    std::call_once(libraryOnce, [] { mosquitto_lib_init(); });
    if (!outbox_.Open(s_.outbox, error)) return false;
    waiting_ = outbox_.Waiting().size();
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        *error = "cannot make an eventfd for the MQTT door";
        return false;
    }
    const int fd = wakeFd_;
    client_ = std::make_unique<Hub::Client>(hub_, 65536, [fd] {
        const std::uint64_t one = 1;
        (void)!::write(fd, &one, sizeof one);
    });
    if (!Build()) {
        *error = "cannot set up the MQTT client for " + s_.target.Text() + ": " + lastProblem_;
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    std::unique_lock<std::mutex> lock(firstMutex_);
    firstCv_.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [this] { return first_ != First::Waiting; });
    if (first_ == First::Refused) {
        *error = firstWhy_;
        return false;
    }
    if (first_ != First::Connected) {
        hub_.Notice("the MQTT broker at " + s_.target.Text() + " is not reachable" +
                    (firstWhy_.empty() ? "" : " (" + firstWhy_ + ")") + "; attempts wait in " +
                    s_.outbox + " until it is");
    }
    return true;
}

void MqttDoor::Settle(First first, const std::string& why) {
    std::lock_guard<std::mutex> lock(firstMutex_);
    if (first_ != First::Waiting) return;
    first_ = first;
    firstWhy_ = why;
    firstCv_.notify_all();
}

void MqttDoor::Notice(const std::string& text) {
    if (text == lastProblem_) return;
    lastProblem_ = text;
    bool settled;
    {
        std::lock_guard<std::mutex> lock(firstMutex_);
        settled = first_ != First::Waiting;
    }
    // Before the first answer Start() tells it, in its own words.
    if (settled) hub_.Notice(text);
}

bool MqttDoor::Build() {
    const std::string clientId = "modstation-" + s_.station;
    m_ = mosquitto_new(clientId.c_str(), true, this);
    if (!m_) {
        lastProblem_ = "out of memory";
        return false;
    }
    mosquitto_int_option(m_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_, &MqttDoor::OnConnect);
    mosquitto_publish_callback_set(m_, &MqttDoor::OnPublish);
    const std::string statusTopic = MqttTopic(s_.target.prefix, s_.station, "status");
    int rc = mosquitto_will_set(m_, statusTopic.c_str(),
                                static_cast<int>(std::strlen(kOfflineWord)), kOfflineWord, 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !s_.target.user.empty()) {
        rc = mosquitto_username_pw_set(m_, s_.target.user.c_str(),
                                       s_.password.empty() ? nullptr : s_.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && s_.target.tls) {
        rc = mosquitto_tls_set(m_, s_.caFile.empty() ? nullptr : s_.caFile.c_str(),
                               s_.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                               nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        lastProblem_ = mosquitto_strerror(rc);
        mosquitto_destroy(m_);
        m_ = nullptr;
        return false;
    }
    return true;
}

void MqttDoor::Drop(const std::string& why) {
    // A new client for every connection: whatever the old one held is still
    // in the outbox and is handed out again after the next CONNACK.
    if (m_) mosquitto_destroy(m_);
    m_ = nullptr;
    inFlight_.clear();
    handedUpTo_ = 0;
    statusSent_.clear();
    if (connected_) Notice("lost the MQTT broker at " + s_.target.Text() + ": " + why);
    connected_ = false;
    connectedFlag_ = false;
    nextTryMs_ = NowMs() + backoffMs_;
    backoffMs_ = std::min(backoffMs_ * 2, 10000);
}

void MqttDoor::TryConnect() {
    if (!m_ && !Build()) {
        nextTryMs_ = NowMs() + 10000;
        return;
    }
    connectStartedMs_ = NowMs();
    const int rc =
        mosquitto_connect_async(m_, s_.target.host.c_str(), s_.target.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        const std::string why = mosquitto_strerror(rc);
        Settle(First::Unreachable, why);
        Notice("cannot reach the MQTT broker at " + s_.target.Text() + ": " + why);
        Drop(why);
    }
}

void MqttDoor::OnConnect(mosquitto*, void* self, int rc) {
    auto* d = static_cast<MqttDoor*>(self);
    if (rc != 0) {
        const std::string why = "the MQTT broker at " + d->s_.target.Text() +
                                " refused the connection: " + mosquitto_connack_string(rc);
        // Bad credentials or no authorisation are the operator's to mend.
        d->Settle(rc == 4 || rc == 5 ? First::Refused : First::Unreachable, why);
        d->Notice(why);
        return;  // the broker closes; the loop notices and tries later
    }
    d->connected_ = true;
    d->connectedFlag_ = true;
    d->backoffMs_ = 500;
    d->lastProblem_.clear();
    d->Settle(First::Connected, {});
    d->PublishStatus();
    d->HandOut();
}

void MqttDoor::OnPublish(mosquitto*, void* self, int mid) {
    auto* d = static_cast<MqttDoor*>(self);
    const auto it = d->inFlight_.find(mid);
    if (it == d->inFlight_.end()) return;  // the status
    d->outbox_.Acknowledge(it->second);
    d->inFlight_.erase(it);
    d->waiting_ = d->outbox_.Waiting().size();
    d->HandOut();
}

void MqttDoor::HandOut() {
    if (!connected_) return;
    const auto& waiting = outbox_.Waiting();
    for (auto it = waiting.upper_bound(handedUpTo_);
         it != waiting.end() && inFlight_.size() < kWindow; ++it) {
        int mid = 0;
        const int rc = mosquitto_publish(m_, &mid, it->second.topic.c_str(),
                                         static_cast<int>(it->second.payload.size()),
                                         it->second.payload.data(), 1, false);
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) break;
        inFlight_[mid] = it->first;
        handedUpTo_ = it->first;
    }
}

void MqttDoor::PublishStatus() {
    const std::string word = StatusWord(*hub_.Current());
    if (!connected_ || word == statusSent_) return;
    const std::string topic = MqttTopic(s_.target.prefix, s_.station, "status");
    if (mosquitto_publish(m_, nullptr, topic.c_str(), static_cast<int>(word.size()), word.data(), 1,
                          true) == MOSQ_ERR_SUCCESS) {
        statusSent_ = word;
    }
}

void MqttDoor::Add(const std::string& topic, const std::string& payload) {
    std::uint64_t seq = 0;
    std::string error;
    if (!outbox_.Add(topic, payload, &seq, &error)) Notice(error);
    waiting_ = outbox_.Waiting().size();
}

void MqttDoor::TakeFromHub() {
    const Delivery d = client_->Take();
    if (d.dropped) {
        Notice("the MQTT door fell behind and lost " + std::to_string(d.dropped) + " events");
    }
    bool added = false;
    for (const Event& e : d.events) {
        if (e.kind == EventKind::SocketChanged) continue;
        const std::string topic = MqttTopic(s_.target.prefix, e.attempt.station, "attempt");
        Add(topic, e.kind == EventKind::AttemptBegun ? WorkStartedJson(e.attempt)
                                                     : UnitsTestedJson(e.attempt));
        added = true;
    }
    HandOut();
    if (added) {
        // Sent first, then put on the disk: the broker need not wait for it.
        if (connected_ && m_ && mosquitto_want_write(m_)) mosquitto_loop_write(m_, 1);
        std::string error;
        if (!outbox_.Flush(&error)) Notice(error);
    }
    if (d.snapshotChanged) PublishStatus();
}

void MqttDoor::Run() {
    pthread_setname_np(pthread_self(), "doors-mqtt");
    TryConnect();
    while (!stop_) {
        const long long now = NowMs();
        int fd = m_ ? mosquitto_socket(m_) : -1;
        if (fd < 0 && now >= nextTryMs_) {
            TryConnect();
            fd = m_ ? mosquitto_socket(m_) : -1;
        }
        if (fd >= 0 && !connected_ && now - connectStartedMs_ > kConnectTimeoutMs) {
            Settle(First::Unreachable, "no answer");
            Notice("the MQTT broker at " + s_.target.Text() + " does not answer");
            Drop("no answer");
            continue;
        }
        pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
        if (fd >= 0 && mosquitto_want_write(m_)) p[1].events |= POLLOUT;
        const int timeout =
            fd >= 0 ? 1000 : static_cast<int>(std::max(0LL, std::min(1000LL, nextTryMs_ - now)));
        ::poll(p, fd >= 0 ? 2 : 1, timeout);
        if (p[0].revents & POLLIN) {
            std::uint64_t count = 0;
            (void)!::read(wakeFd_, &count, sizeof count);
            TakeFromHub();
        }
        if (fd < 0 || !m_) continue;
        int rc = MOSQ_ERR_SUCCESS;
        if (p[1].revents & (POLLIN | POLLERR | POLLHUP)) rc = mosquitto_loop_read(m_, 1);
        if (rc == MOSQ_ERR_SUCCESS && m_ && (p[1].revents & POLLOUT)) {
            rc = mosquitto_loop_write(m_, 1);
        }
        if (rc == MOSQ_ERR_SUCCESS && m_) rc = mosquitto_loop_misc(m_);
        if (rc == MOSQ_ERR_SUCCESS && m_ && mosquitto_socket(m_) < 0) rc = MOSQ_ERR_CONN_LOST;
        if (rc != MOSQ_ERR_SUCCESS) {
            std::string why = mosquitto_strerror(rc);
            if (rc == MOSQ_ERR_TLS) {
                why = "the TLS handshake with " + s_.target.Text() +
                      " failed (is the broker's certificate signed by the CA given?)";
                Settle(First::Refused, why);
            }
            Settle(First::Unreachable, why);
            Notice("MQTT: " + why);
            Drop(why);
        }
    }
    // Going away on purpose: say so, since the broker sends the last will
    // only for a connection that breaks.
    if (connected_ && m_) {
        const std::string topic = MqttTopic(s_.target.prefix, s_.station, "status");
        int mid = 0;
        mosquitto_publish(m_, &mid, topic.c_str(), static_cast<int>(std::strlen(kOfflineWord)),
                          kOfflineWord, 1, true);
        const long long until = NowMs() + 1000;
        inFlight_[mid] = 0;
        while (NowMs() < until && inFlight_.count(mid) && mosquitto_socket(m_) >= 0) {
            pollfd p{mosquitto_socket(m_), POLLIN, 0};
            if (mosquitto_want_write(m_)) p.events |= POLLOUT;
            ::poll(&p, 1, 50);
            if (p.revents & POLLOUT) mosquitto_loop_write(m_, 1);
            if (p.revents & (POLLIN | POLLERR | POLLHUP)) mosquitto_loop_read(m_, 1);
        }
        mosquitto_disconnect(m_);
        mosquitto_loop_write(m_, 1);
    }
}

}  // namespace doors
