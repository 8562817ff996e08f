#include "commands.h"

namespace wire {

const std::string kLeadInByte(1, '\x80');
const std::string kEndOfTest = "*";

namespace {

const char kCr = '\r';

std::string TwoDigits(int channel) {
    return std::string{static_cast<char>('0' + channel / 10 % 10),
                       static_cast<char>('0' + channel % 10)};
}

}  // namespace

std::string VersionCommand() {
    return std::string("/V") + kCr;
}

std::string IdentityCommand() {
    return std::string("/D") + kCr;
}

std::string TestCommand(const std::vector<std::string>& values) {
    std::string command = "/T ";
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (k > 0) command += ',';
        command += values[k];
    }
    return command + kCr;
}

std::string ReadCommand(int channel) {
    return "/R " + TwoDigits(channel) + kCr;
}

std::string WriteCommand(int channel) {
    return "/W " + TwoDigits(channel) + kCr;
}

std::string ReadCommonCommand() {
    return std::string("/M") + kCr;
}

std::string WriteCommonCommand(const std::string& commonParam) {
    return "/M " + commonParam + kCr;
}

}  // namespace wire
