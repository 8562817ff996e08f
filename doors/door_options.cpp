#include "door_options.h"

#include <cstdlib>

namespace doors {

const char kDoorsUsageText[] =
    "on the line's network (each door only when asked for):\n"
    "  --http ADDR:PORT       status, control, events and metrics over HTTP; a bind\n"
    "                         other than loopback needs --http-token-file\n"
    "  --http-token-file FILE every request must carry \"Authorization: Bearer\" with\n"
    "                         the token in FILE's first line (mode 0600)\n"
    "  --modbus ADDR:PORT     the PLC's handshake over Modbus TCP; a bind other than\n"
    "                         loopback needs --modbus-allow\n"
    "  --modbus-allow CIDR    Modbus clients allowed in (repeat for more)\n"
    "  --trigger plc          each socket waits for its Modbus coil before a module\n"
    "  --mqtt URL             attempts and status to an MQTT broker:\n"
    "                         mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://...\n"
    "  --mqtt-ca FILE         the CA certificates that sign the broker's (mqtts)\n"
    "  --mqtt-password-file FILE  the password for USER (mode 0600)\n"
    "  --mqtt-outbox FILE     where unacknowledged messages wait\n";

bool Endpoint::Loopback() const {
    const std::optional<Address> a = ParseAddress(host);
    return a && IsLoopback(*a);
}

std::string Endpoint::Text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string MqttTarget::Text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return std::string(tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + host + "]" : host) + ":" +
           std::to_string(port) + "/" + prefix;
}

namespace {

bool ParsePort(const std::string& text, int* port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    *port = std::atoi(text.c_str());
    return *port <= 65535;
}

}  // namespace

std::optional<Endpoint> ParseEndpoint(const std::string& text) {
    Endpoint e;
    std::string portText = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string::npos) return std::nullopt;
        e.host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        e.host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (e.host.find(':') != std::string::npos) return std::nullopt;  // v6 needs [ ]
    }
    if (e.host == "localhost") e.host = "127.0.0.1";
    if (!ParseAddress(e.host) || !ParsePort(portText, &e.port)) return std::nullopt;
    return e;
}

std::optional<MqttTarget> ParseMqttUrl(const std::string& text, std::string* error) {
    MqttTarget t;
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        t.tls = true;
        t.port = 8883;
        rest = text.substr(8);
    } else {
        *error = "--mqtt needs mqtt://HOST:PORT/PREFIX or mqtts://..., not \"" + text + "\"";
        return std::nullopt;
    }
    const std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos) t.prefix = rest.substr(slash + 1);
    while (!t.prefix.empty() && t.prefix.back() == '/') t.prefix.pop_back();
    if (t.prefix.find_first_of("+#") != std::string::npos) {
        *error = "--mqtt: the prefix may not hold + or #";
        return std::nullopt;
    }
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
        t.user = authority.substr(0, at);
        authority = authority.substr(at + 1);
        if (t.user.find(':') != std::string::npos) {
            *error = "--mqtt: put the password in --mqtt-password-file, not in the URL";
            return std::nullopt;
        }
    }
    std::string portText;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos) {
            *error = "--mqtt: \"" + text + "\" has no closing ]";
            return std::nullopt;
        }
        t.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') {
                *error = "--mqtt: \"" + text + "\" is not HOST:PORT";
                return std::nullopt;
            }
            portText = authority.substr(close + 2);
        }
    } else {
        const std::size_t colon = authority.find(':');
        t.host = authority.substr(0, colon);
        if (colon != std::string::npos) portText = authority.substr(colon + 1);
    }
    if (t.host.empty() || (!portText.empty() && !ParsePort(portText, &t.port)) || t.port == 0) {
        *error = "--mqtt: \"" + text + "\" needs a host and a port from 1 to 65535";
        return std::nullopt;
    }
    return t;
}

bool TakeDoorOptions(std::vector<std::string>& args, DoorsOptions* o, std::string* error) {
    static const char* const kNames[] = {"--http",       "--http-token-file",
                                         "--modbus",     "--modbus-allow",
                                         "--trigger",    "--mqtt",
                                         "--mqtt-ca",    "--mqtt-password-file",
                                         "--mqtt-outbox"};
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        bool ours = false;
        for (const char* n : kNames) ours = ours || name == n;
        if (!ours) {
            rest.push_back(arg);
            continue;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            *error = name + " needs a value";
            return false;
        }
        if (name == "--http" || name == "--modbus") {
            const std::optional<Endpoint> e = ParseEndpoint(value);
            if (!e) {
                *error = name + " needs ADDR:PORT with an IP address, not \"" + value + "\"";
                return false;
            }
            (name == "--http" ? o->http : o->modbus) = e;
        } else if (name == "--modbus-allow") {
            const std::optional<Cidr> c = ParseCidr(value);
            if (!c) {
                *error =
                    "--modbus-allow needs an address or CIDR (10.0.0.0/24), not \"" + value + "\"";
                return false;
            }
            o->modbusAllow.push_back(*c);
        } else if (name == "--trigger") {
            if (value != "plc") {
                *error = "--trigger takes plc, not \"" + value + "\"";
                return false;
            }
            o->triggerPlc = true;
        } else if (name == "--mqtt") {
            o->mqtt = ParseMqttUrl(value, error);
            if (!o->mqtt) return false;
        } else if (value.empty()) {
            *error = name + " needs a file name";
            return false;
        } else if (name == "--http-token-file") {
            o->httpTokenFile = value;
        } else if (name == "--mqtt-ca") {
            o->mqttCaFile = value;
        } else if (name == "--mqtt-password-file") {
            o->mqttPasswordFile = value;
        } else {
            o->mqttOutbox = value;
        }
    }
    const auto fail = [error](const std::string& why) {
        *error = why;
        return false;
    };
    if (!o->httpTokenFile.empty() && !o->http) return fail("--http-token-file belongs to --http");
    if (o->http && !o->http->Loopback() && o->httpTokenFile.empty()) {
        return fail("--http " + o->http->Text() +
                    " is open to the network: it needs --http-token-file FILE");
    }
    if (!o->modbusAllow.empty() && !o->modbus) return fail("--modbus-allow belongs to --modbus");
    if (o->modbus && !o->modbus->Loopback() && o->modbusAllow.empty()) {
        return fail("--modbus " + o->modbus->Text() +
                    " is open to the network: it needs --modbus-allow CIDR");
    }
    if (o->triggerPlc && !o->modbus) {
        return fail("--trigger plc needs --modbus ADDR:PORT, or no socket would ever start");
    }
    if ((!o->mqttCaFile.empty() || !o->mqttPasswordFile.empty() || !o->mqttOutbox.empty()) &&
        !o->mqtt) {
        return fail(std::string(!o->mqttCaFile.empty()         ? "--mqtt-ca"
                                : !o->mqttPasswordFile.empty() ? "--mqtt-password-file"
                                                               : "--mqtt-outbox") +
                    " belongs to --mqtt");
    }
    if (!o->mqttCaFile.empty() && !o->mqtt->tls) return fail("--mqtt-ca belongs to mqtts://");
    if (!o->mqttPasswordFile.empty() && o->mqtt->user.empty()) {
        return fail("--mqtt-password-file needs a user: mqtt://USER@HOST...");
    }
    args = std::move(rest);
    return true;
}

}  // namespace doors
