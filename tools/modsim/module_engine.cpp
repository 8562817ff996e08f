#include "module_engine.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>

#include <cctype>
#include <utility>

namespace modsim {

namespace {

constexpr char kLeadIn = '\x80';
constexpr char kTestEnd = '*';
constexpr char kCr = '\r';
constexpr char kLf = '\n';

// A real module's line buffer is small; a runaway line must not grow without
// bound, and a cut-off command is simply not understood.
constexpr std::size_t kMaxLine = 512;

// The tools read the version's kind letter at position 4 and expect at least
// this many characters in the version line.
constexpr std::size_t kMinVersionLine = 19;

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string> SplitValues(std::string_view text) {
    std::vector<std::string> values;
    if (text.empty()) return values;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        values.emplace_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return values;
}

std::string JoinValues(const std::vector<std::string>& values) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += ',';
        text += values[i];
    }
    return text;
}

// Channel number of a "/W nn" or "/R nn" command, or -1 unless nn is one of
// the module's channels.
int ChannelOf(std::string_view command, int channelCount) {
    if (command.size() != 5 || command[2] != ' ' || command[3] != '0') return -1;
    const char digit = command[4];
    if (digit < '0' || digit >= '0' + channelCount) return -1;
    return digit - '0';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string UpperHex(int byte) {
    static const char kDigits[] = "0123456789ABCDEF";
    return {kDigits[(byte >> 4) & 0xF], kDigits[byte & 0xF]};
}

// The value the module ends up with when a flash cell is bad: every bit of
// the last register flipped.
void Corrupt(std::vector<std::string>& values) {
    if (values.empty()) return;
    std::string& last = values.back();
    if (last.size() != 2) return;
    const int high = HexDigit(last[0]);
    const int low = HexDigit(last[1]);
    if (high < 0 || low < 0) return;
    last = UpperHex(0xFF - (high * 16 + low));
}

std::string_view StripCr(std::string_view line) {
    if (!line.empty() && line.back() == kCr) line.remove_suffix(1);
    return line;
}

}  // namespace

std::size_t ValueCount(ModuleKind kind) {
    return kind == ModuleKind::Receiver ? 5 : 12;
}

std::string DefaultVersion(ModuleKind kind) {
    return kind == ModuleKind::Receiver ? "R1.05" : "T2.10";
}

ModuleEngine::ModuleEngine(EngineOptions options) : options_(std::move(options)) {
    if (options_.version.empty()) options_.version = DefaultVersion(options_.kind);
    for (char& c : options_.serial)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    options_.channelCount = std::clamp(options_.channelCount, 1, kMaxChannelCount);
    // A new module's flash is erased.
    channels_.assign(static_cast<std::size_t>(options_.channelCount),
                     std::vector<std::string>(ValueCount(options_.kind), "FF"));
}

std::string ModuleEngine::Receive(std::string_view bytes) {
    std::string out;
    for (const char byte : bytes) {
        if (Finished()) break;
        if (byte == kLf) continue;
        if (byte != kCr) {
            // The lead-in byte and the end-of-test '*' stand alone; they only
            // matter in front of a command, where they are not part of it.
            if (line_.empty() && (byte == kLeadIn || byte == kTestEnd)) continue;
            if (line_.size() < kMaxLine) {
                line_ += byte;
            } else {
                lineOverflow_ = true;
            }
            continue;
        }
        const std::string command = lineOverflow_ ? std::string() : std::move(line_);
        line_.clear();
        lineOverflow_ = false;
        ++commandCount_;
        lastCommand_ = command;
        // The command takes effect even when its reply is lost on the way.
        std::string reply = Execute(command);
        for (const auto& [prefix, text] : options_.replies) {
            if (StartsWith(command, prefix)) reply = text;
        }
        if (!options_.swapAfter.empty() && StartsWith(command, options_.swapAfter)) {
            options_.swapAfter.clear();
            SwapModule();
        }
        if (reply.empty() || Suppressed(command)) continue;
        if (options_.noise) out += NoiseBurst();
        out += reply;
        out += options_.crlf ? "\r\n" : "\r";
    }
    return out;
}

void ModuleEngine::SwapModule() {
    unsigned long value = std::strtoul(options_.serial.c_str(), nullptr, 16);
    char text[16];
    std::snprintf(text, sizeof text, "%06lX", (value + 1) & 0xFFFFFFul);
    options_.serial = text;
}

bool ModuleEngine::Suppressed(const std::string& command) const {
    if (options_.silent) return true;
    if (options_.dropNth > 0 && commandCount_ == options_.dropNth) return true;
    for (const std::string& prefix : options_.dropPrefixes) {
        if (StartsWith(command, prefix)) return true;
    }
    return false;
}

bool ModuleEngine::Finished() const {
    return options_.exitAfter > 0 && commandCount_ >= options_.exitAfter;
}

std::string ModuleEngine::NoiseBurst() {
    // Bytes a disturbed line or a module's boot typically shows; none of them
    // may be '*', CR or LF.
    static const char kAlphabet[] =
        "~#@!\x01\x7f"
        "abqxzKLMW?%&";
    constexpr std::size_t kAlphabetSize = sizeof kAlphabet - 1;
    auto next = [this] {
        // xorshift32: deterministic, so a failing run can be repeated.
        noiseState_ ^= noiseState_ << 13;
        noiseState_ ^= noiseState_ >> 17;
        noiseState_ ^= noiseState_ << 5;
        return noiseState_;
    };
    const std::size_t length = 4 + next() % 6;
    std::string burst;
    for (std::size_t i = 0; i < length; ++i) burst += kAlphabet[next() % kAlphabetSize];
    return burst;
}

std::string ModuleEngine::Execute(const std::string& command) {
    const bool tx = options_.kind == ModuleKind::Transmitter;
    if (command == "/V") return VersionReply();
    if (command == "/D") return IdentityReply();
    if (command == "/T" || StartsWith(command, "/T ")) {
        handedValues_ = command == "/T" ? std::vector<std::string>()
                                        : SplitValues(std::string_view(command).substr(3));
        handedOver_ = true;
        return EchoReply(handedValues_);
    }
    if (StartsWith(command, "/W")) return WriteReply(command);
    if (StartsWith(command, "/R")) return ReadReply(command);
    if (tx && (command == "/M" || StartsWith(command, "/M "))) return CommonReply(command);
    return {};
}

std::string ModuleEngine::VersionReply() const {
    std::string version = options_.version;
    if (options_.otherKind && !version.empty()) {
        version[0] = options_.kind == ModuleKind::Receiver ? 'T' : 'R';
    }
    std::string reply = "*V " + version + " " +
                        (options_.kind == ModuleKind::Receiver ? "RX-434 SIM" : "TX-434 SIM");
    if (reply.size() < kMinVersionLine) reply.append(kMinVersionLine - reply.size(), ' ');
    return reply;
}

std::string ModuleEngine::IdentityReply() const {
    std::string reply = "*D " + options_.serial + " " + options_.date;
    if (options_.kind == ModuleKind::Transmitter) reply += " FO=" + options_.offset;
    return reply;
}

std::string ModuleEngine::EchoReply(const std::vector<std::string>& values) const {
    // The transmitter's firmware puts one more blank before its values.
    const char* head = options_.kind == ModuleKind::Receiver ? "*T " : "*T  ";
    return head + JoinValues(values);
}

std::string ModuleEngine::WriteReply(const std::string& command) {
    const int channel = ChannelOf(command, options_.channelCount);
    if (channel < 0 || !handedOver_) return "*W Err";
    std::vector<std::string> values = handedValues_;
    if (channel == options_.wrongChannel) Corrupt(values);
    channels_[channel] = std::move(values);
    storeChanged_ = true;
    return "*W " + command.substr(3, 2) + "," + JoinValues(channels_[channel]);
}

std::string ModuleEngine::ReadReply(const std::string& command) const {
    const int channel = ChannelOf(command, options_.channelCount);
    if (channel < 0) return {};
    return "*R " + command.substr(3, 2) + "," + JoinValues(channels_[channel]);
}

std::string ModuleEngine::CommonReply(const std::string& command) {
    if (command.size() > 2) {
        common_ = command.substr(3);
        storeChanged_ = true;
    }
    return "*M " + common_;
}

const std::vector<std::string>& ModuleEngine::Channel(int index) const {
    return channels_.at(static_cast<std::size_t>(index));
}

std::string ModuleEngine::StoreText() const {
    std::string text;
    for (const auto& channel : channels_) text += JoinValues(channel) + "\n";
    if (options_.kind == ModuleKind::Transmitter) text += common_ + "\n";
    return text;
}

bool ModuleEngine::LoadStoreText(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find(kLf);
        lines.push_back(StripCr(text.substr(0, end)));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    const std::size_t count = channels_.size();
    const std::size_t expected = count + (options_.kind == ModuleKind::Transmitter ? 1 : 0);
    if (lines.size() != expected) return false;
    for (std::size_t i = 0; i < count; ++i) channels_[i] = SplitValues(lines[i]);
    if (options_.kind == ModuleKind::Transmitter) common_ = std::string(lines[count]);
    return true;
}

bool ModuleEngine::TakeStoreChanged() {
    return std::exchange(storeChanged_, false);
}

}  // namespace modsim
