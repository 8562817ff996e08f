#include "open_doors.h"

#include <QThread>
#include <future>

#include "http_door.h"
#include "modbus_door.h"
#include "mqtt_door.h"

namespace doors {

namespace {

// The thread of the HTTP and Modbus servers: they are made, run and
// destroyed on it.
class DoorsThread : public QThread {
  public:
    DoorsThread(const DoorsOptions& options, Hub& hub, std::string token)
        : options_(options), hub_(hub), token_(std::move(token)) {
        setObjectName("doors");
    }

    // Waits until the servers listen or one could not.
    bool Begin(std::string* error) {
        std::future<std::string> ready = ready_.get_future();
        start();
        *error = ready.get();
        if (!error->empty()) wait();
        return error->empty();
    }

    int httpPort = 0;
    int modbusPort = 0;

  protected:
    void run() override {
        std::string error;
        std::unique_ptr<HttpDoor> http;
        std::unique_ptr<ModbusDoor> modbus;
        if (options_.http) {
            http = std::make_unique<HttpDoor>(hub_, token_);
            if (http->Listen(*options_.http, &error)) httpPort = http->Port();
        }
        if (error.empty() && options_.modbus) {
            modbus = std::make_unique<ModbusDoor>(hub_, options_.modbusAllow, options_.triggerPlc);
            if (modbus->Listen(*options_.modbus, &error)) modbusPort = options_.modbus->port;
        }
        const bool ok = error.empty();
        ready_.set_value(error);
        if (ok) exec();
    }

  private:
    DoorsOptions options_;
    Hub& hub_;
    std::string token_;
    std::promise<std::string> ready_;
};

}  // namespace

struct Doors::Parts {
    DoorsOptions options;
    std::unique_ptr<DoorsThread> thread;
    std::unique_ptr<MqttDoor> mqtt;
};

Doors::Doors() : parts_(std::make_unique<Parts>()) {}

Doors::~Doors() {
    if (parts_->thread) {
        parts_->thread->quit();
        parts_->thread->wait();
    }
    parts_->mqtt.reset();
}

int Doors::HttpPort() const {
    return parts_->thread ? parts_->thread->httpPort : 0;
}

int Doors::ModbusPort() const {
    return parts_->thread ? parts_->thread->modbusPort : 0;
}

std::size_t Doors::MqttWaiting() const {
    return parts_->mqtt ? parts_->mqtt->Waiting() : 0;
}

bool Doors::MqttConnected() const {
    return parts_->mqtt && parts_->mqtt->Connected();
}

std::string Doors::Describe() const {
    const DoorsOptions& o = parts_->options;
    std::string out;
    const auto add = [&out](const std::string& part) { out += (out.empty() ? "" : "; ") + part; };
    if (o.http) {
        Endpoint at = *o.http;
        at.port = HttpPort();
        add("HTTP on " + at.Text() + (o.httpTokenFile.empty() ? "" : " (bearer token)"));
    }
    if (o.modbus) {
        add("Modbus on " + o.modbus->Text() + (o.triggerPlc ? " (PLC trigger)" : ""));
    }
    if (o.mqtt) add("MQTT to " + o.mqtt->Text());
    return out;
}

std::unique_ptr<Doors> OpenDoors(const DoorsOptions& options, Hub& hub, std::string* error) {
    std::unique_ptr<Doors> doors(new Doors());
    doors->parts_->options = options;
    std::string token;
    if (!options.httpTokenFile.empty() && !ReadTokenFile(options.httpTokenFile, &token, error)) {
        return nullptr;
    }
    if (options.http || options.modbus) {
        doors->parts_->thread = std::make_unique<DoorsThread>(options, hub, token);
        if (!doors->parts_->thread->Begin(error)) {
            doors->parts_->thread.reset();
            return nullptr;
        }
    }
    if (options.mqtt) {
        MqttSettings s;
        s.target = *options.mqtt;
        s.caFile = options.mqttCaFile;
        s.outbox = options.mqttOutbox;
        s.station = hub.Current()->station;
        if (s.outbox.empty()) {
            *error = "MQTT needs an outbox file (--mqtt-outbox FILE)";
            return nullptr;
        }
        if (!options.mqttPasswordFile.empty() &&
            !ReadSecretFile(options.mqttPasswordFile, "password", 1, &s.password, error)) {
            return nullptr;
        }
        doors->parts_->mqtt = std::make_unique<MqttDoor>(hub, std::move(s));
        if (!doors->parts_->mqtt->Start(error)) return nullptr;
    }
    return doors;
}

}  // namespace doors
