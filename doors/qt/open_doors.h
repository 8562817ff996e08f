#pragma once

// What modsetup and modstation call to open the doors they were asked for.
// The HTTP and Modbus servers run on a thread of their own ("doors"), the
// MQTT client on another ("doors-mqtt"); the station sees none of them, only
// the hub. Closing (the destructor) stops them and waits for their threads.
//
// The station side publishes its first snapshot (with the station's name)
// before it opens the doors, since the MQTT topics are named after it.

#include <memory>
#include <string>

#include "door_options.h"
#include "hub.h"

namespace doors {

class Doors {
  public:
    ~Doors();
    // Where the HTTP and Modbus doors listen (the system's choice when the
    // options said port 0); 0 for a door not opened.
    int HttpPort() const;
    int ModbusPort() const;
    // MQTT messages waiting for the broker's acknowledgement.
    std::size_t MqttWaiting() const;
    bool MqttConnected() const;
    // "HTTP on 127.0.0.1:8080; Modbus on ...; MQTT to mqtt://...": for the
    // program's start-up line. Names no secret.
    std::string Describe() const;

    struct Parts;

  private:
    friend std::unique_ptr<Doors> OpenDoors(const DoorsOptions&, Hub&, std::string*);
    Doors();
    std::unique_ptr<Parts> parts_;
};

// Null with *error when a door cannot open: a port in use, a token file
// readable by others, a broker that refuses the credentials. Call it before
// the station starts; it waits up to about 3 s for the MQTT broker's first
// answer.
std::unique_ptr<Doors> OpenDoors(const DoorsOptions& options, Hub& hub, std::string* error);

}  // namespace doors
