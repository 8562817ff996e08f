#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace modsim {

// The module the simulator plays.
enum class ModuleKind { Receiver, Transmitter };

// Stored channels 00..03 unless the options say otherwise.
constexpr int kChannelCount = 4;
constexpr int kMaxChannelCount = 8;

// How many register values one channel of this kind holds.
std::size_t ValueCount(ModuleKind kind);

// The version text a module of this kind reports unless told otherwise.
std::string DefaultVersion(ModuleKind kind);

struct EngineOptions {
    ModuleKind kind = ModuleKind::Receiver;
    std::string serial = "012345";  // six hex digits, upper-cased on output
    std::string version;            // empty: DefaultVersion(kind)
    std::string date = "2026/11/30";
    std::string offset = "1A";  // transmitter only
    int channelCount = kChannelCount;  // 1..kMaxChannelCount: a kind of more channels

    // Ways to misbehave, so the tools' error paths can be exercised.
    bool silent = false;
    int dropNth = 0;  // 0: none; 1-based count of CR-terminated commands
    std::vector<std::string> dropPrefixes;
    bool otherKind = false;
    int wrongChannel = -1;  // -1: none
    bool crlf = false;
    bool noise = false;
    int exitAfter = 0;  // 0: never
    // Another module takes this one's place (its serial one higher) once a
    // command starting with this prefix has been answered; empty: never.
    std::string swapAfter;
    // Replies of the test's choosing, by command prefix ("/D" -> "*D ZZ").
    std::vector<std::pair<std::string, std::string>> replies;
};

// The module's side of the serial protocol, without any I/O: bytes from the
// tool go in, the bytes the module sends back come out. The reply delay, the
// terminal and the store file are the caller's business.
class ModuleEngine {
  public:
    explicit ModuleEngine(EngineOptions options);

    // Feeds bytes as they came off the line. Returns everything the module
    // sends in answer (noise included), possibly several replies, possibly
    // nothing. Once Finished(), further bytes are ignored.
    std::string Receive(std::string_view bytes);

    // A burst of line noise: never contains '*', CR or LF, so it cannot be
    // taken for the start or end of a reply.
    std::string NoiseBurst();

    // CR-terminated commands seen so far (answered, dropped or unknown).
    int CommandCount() const { return commandCount_; }
    // The last CR-terminated command, without its CR.
    const std::string& LastCommand() const { return lastCommand_; }

    // True once the command given as exitAfter has been handled.
    bool Finished() const;

    const std::vector<std::string>& Channel(int index) const;
    const std::string& CommonParameters() const { return common_; }

    // The store file's content: one line per channel with the values joined
    // by ",", then for a transmitter one line with the common parameters.
    std::string StoreText() const;
    // Replaces channels and common parameters from a store file's content.
    // False (and nothing changed) when the text does not have the right lines.
    bool LoadStoreText(std::string_view text);

    // True when a command changed what StoreText() returns since the last call.
    bool TakeStoreChanged();

  private:
    // The reply line without its terminator; empty when there is none.
    std::string Execute(const std::string& command);
    std::string VersionReply() const;
    std::string IdentityReply() const;
    std::string EchoReply(const std::vector<std::string>& values) const;
    std::string WriteReply(const std::string& command);
    std::string ReadReply(const std::string& command) const;
    std::string CommonReply(const std::string& command);
    bool Suppressed(const std::string& command) const;
    void SwapModule();

    EngineOptions options_;
    std::string line_;  // command bytes since the last CR
    bool lineOverflow_ = false;
    int commandCount_ = 0;
    std::string lastCommand_;
    bool handedOver_ = false;
    std::vector<std::string> handedValues_;
    std::vector<std::vector<std::string>> channels_;
    std::string common_ = "06,29,B8";
    bool storeChanged_ = false;
    std::uint32_t noiseState_ = 0x2545F491u;
};

}  // namespace modsim
