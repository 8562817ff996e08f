#pragma once

// The doors' part of modsetup's and modstation's command lines, read the
// same way by both.

#include <optional>
#include <string>
#include <vector>

#include "access.h"

namespace doors {

struct Endpoint {
    std::string host = "127.0.0.1";  // an IP address as given
    int port = 0;
    bool Loopback() const;
    std::string Text() const;  // "127.0.0.1:8080", "[::1]:8080"
};

struct MqttTarget {
    bool tls = false;  // mqtts://
    std::string user;  // mqtt://USER@HOST..., the password from a file
    std::string host;
    int port = 1883;
    std::string prefix;        // the topics' first part, may be empty
    std::string Text() const;  // the URL without the user
};

struct DoorsOptions {
    std::optional<Endpoint> http;
    std::string httpTokenFile;
    std::optional<Endpoint> modbus;
    std::vector<Cidr> modbusAllow;
    std::optional<MqttTarget> mqtt;
    std::string mqttCaFile;
    std::string mqttPasswordFile;
    // Where MQTT messages wait for the broker's acknowledgement; the program
    // names a default beside its record when none is given.
    std::string mqttOutbox;
    // The PLC starts each socket through its coil.
    bool triggerPlc = false;

    bool Any() const { return http || modbus || mqtt; }
};

// Takes the door options out of args ("--name value" and "--name=value"),
// leaving the program's own for its parser. False with *error on a bad
// value or a combination that cannot work (a non-loopback bind without its
// access rule, --trigger plc without Modbus).
bool TakeDoorOptions(std::vector<std::string>& args, DoorsOptions* options, std::string* error);

// "ADDR:PORT", "[V6]:PORT" or a port alone, which binds 127.0.0.1.
std::optional<Endpoint> ParseEndpoint(const std::string& text);
// "mqtt://[USER@]HOST[:PORT][/PREFIX]", "mqtts://..."; a password in the
// URL is refused, since command lines can be read by every user.
std::optional<MqttTarget> ParseMqttUrl(const std::string& text, std::string* error);

extern const char kDoorsUsageText[];

}  // namespace doors
