// modsim: plays a 434 MHz receiver or transmitter module on a pseudo-terminal
// linked as COM<n> among the suite's COM names (or <folder>/ports/COM<n>),
// so the programs can be tried and tested without hardware.

#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "file_places.h"
#include "module_engine.h"
#include "port_assignment.h"
#include "pty_link.h"

namespace {

using Clock = std::chrono::steady_clock;
using modsim::EngineOptions;
using modsim::ModuleEngine;
using modsim::ModuleKind;

constexpr int kUsageError = 2;

// The longest poll wait; nothing needs it shorter while idle, and it bounds
// how long a lost wake-up could delay anything.
constexpr int kIdleWaitMs = 1000;
// How long to stay away from a master that reported a hang-up.
constexpr int kHangupWaitMs = 100;
// On --exit-after, how long the last reply may wait for the tool to read it
// before the terminal goes away.
constexpr int kLastReplyWaitMs = 1000;
constexpr int kHandOverMs = 100;

const char kUsage[] =
    "usage: modsim --kind rx|tx [--folder DIR] [options]\n"
    "Plays a receiver (rx) or transmitter (tx) module on a pseudo-terminal\n"
    "linked as COM<n> in the COM names every program of the suite reads.\n"
    "\n"
    "  --kind rx|tx          module to play (required)\n"
    "  --folder DIR          link DIR/ports/COM<n> instead [the suite's folder:\n"
    "                        ports/ beside the programs, or ~/.config/setuptools/ports]\n"
    "  --com N               port number [1]\n"
    "  --serial HEX6         serial number, six hex digits [012345]\n"
    "  --version TEXT        version, five characters [R1.05 / T2.10]\n"
    "  --date TEXT           factory test date, ten characters [2026/11/30]\n"
    "  --offset XX           transmitter frequency offset, two characters [1A]\n"
    "  --store FILE          keep stored channels (and common parameters) in FILE\n"
    "  --record FILE         append every received byte to FILE\n"
    "  --silent              never answer\n"
    "  --drop-nth N          do not answer the N-th command\n"
    "  --drop PREFIX         do not answer commands starting with PREFIX (repeatable)\n"
    "  --other-kind          report the other module kind in the version\n"
    "  --channels N          stored channels, 1 to 8: a kind of other than four [4]\n"
    "  --wrong-channel N     store channel N (from 0) with its last value inverted\n"
    "  --crlf                end replies with CR LF instead of CR\n"
    "  --noise               send line noise before every reply and at start\n"
    "  --exit-after N        exit after the N-th command, as if the cable were pulled\n"
    "  --reply-delay MS      delay before each reply [5]\n"
    "  --fixture N           a test fixture: N modules one after another, each with\n"
    "                        the next serial number and empty stored channels\n"
    "  --present MS          fixture: how long each module answers [8000]\n"
    "  --absent MS           fixture: how long the socket stays empty between [2000]\n"
    "  --hold                fixture: a module stays in until its channels have been\n"
    "                        read back, then --present MS more (an operator who takes\n"
    "                        a module out once the station has its result)\n"
    "  --swap-after PREFIX   another module (serial one higher) takes this one's\n"
    "                        place once a command starting with PREFIX is answered\n"
    "  --reply PREFIX:TEXT   answer commands starting with PREFIX with TEXT\n"
    "                        (repeatable), e.g. --reply \"/D:*D ZZ\"\n"
    "  --late PREFIX:MS      answer commands starting with PREFIX MS later still\n"
    "                        (repeatable), e.g. --late \"/W 01:300\"\n"
    "  --vanish-after MS     MS after start the device goes away, whatever is going\n"
    "                        on: terminal closed, link removed (a pulled adapter)\n"
    "  --relink-after MS     MS after vanishing, come back as a new terminal under the\n"
    "                        same link; without --vanish-after, first appear MS after\n"
    "                        start (an adapter plugged in later)\n"
    "  --help                show this text\n";

// Modules put into a fixture one after another: each answers for a while,
// then the socket is empty for a while before the next one is put in.
struct Fixture {
    int modules = 0;  // 0: one module, always present
    int presentMs = 8000;
    int absentMs = 2000;
    bool hold = false;  // present counts from the module's read-back, not from its arrival
};

struct Settings {
    EngineOptions engine;
    bool kindGiven = false;
    std::string ports;  // the folder the link is made in
    int com = 1;
    std::string storePath;
    std::string recordPath;
    int replyDelayMs = 5;
    Fixture fixture;
    std::vector<std::pair<std::string, int>> late;  // command prefix, extra delay
    int vanishAfterMs = -1;
    int relinkAfterMs = -1;
};

bool ParseNumber(const char* text, int low, int high, int* value) {
    if (*text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || number < low || number > high) return false;
    *value = static_cast<int>(number);
    return true;
}

// Text that goes into a reply must not contain what ends or starts one.
bool FitsInReply(const std::string& text, std::size_t length) {
    if (text.size() != length) return false;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '*' || c == 0x7f) return false;
    }
    return true;
}

bool IsHex(const std::string& text) {
    return text.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
}

int UsageError(const std::string& message) {
    std::cerr << "modsim: " << message << "\n(see modsim --help)\n";
    return kUsageError;
}

// The user's COM names, which every program of the suite reads: beside the
// programs in a source build, else the per-user folder (the earlier
// per-program links taken over first, as the programs would).
std::string SuitePortsFolder() {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string folder = n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : ".";
    folder = folder.substr(0, std::max<std::size_t>(folder.rfind('/'), 1));
#ifdef SETUP_PER_USER_FILES
    const store::FilePlaces places =
        store::PlacesFor(store::FilePlacement::PerUser, folder, "modsim");
    wire::TakeOverEarlierLinks(places.ports);
    return places.ports.user;
#else
    return store::PlacesFor(store::FilePlacement::BesideProgram, folder, "modsim").ports.user;
#endif
}

// Returns -1 when the program should go on, else the exit status.
int ParseArguments(int argc, char** argv, Settings* settings) {
    enum {
        kKind = 1000,
        kFolder,
        kCom,
        kSerial,
        kVersion,
        kDate,
        kOffset,
        kStore,
        kRecord,
        kSilent,
        kDropNth,
        kDrop,
        kOtherKind,
        kWrongChannel,
        kChannels,
        kCrlf,
        kNoise,
        kExitAfter,
        kReplyDelay,
        kFixture,
        kPresent,
        kAbsent,
        kHold,
        kLate,
        kSwapAfter,
        kReply,
        kVanishAfter,
        kRelinkAfter,
        kHelp
    };
    static const option kOptions[] = {
        {"kind", required_argument, nullptr, kKind},
        {"folder", required_argument, nullptr, kFolder},
        {"com", required_argument, nullptr, kCom},
        {"serial", required_argument, nullptr, kSerial},
        {"version", required_argument, nullptr, kVersion},
        {"date", required_argument, nullptr, kDate},
        {"offset", required_argument, nullptr, kOffset},
        {"store", required_argument, nullptr, kStore},
        {"record", required_argument, nullptr, kRecord},
        {"silent", no_argument, nullptr, kSilent},
        {"drop-nth", required_argument, nullptr, kDropNth},
        {"drop", required_argument, nullptr, kDrop},
        {"other-kind", no_argument, nullptr, kOtherKind},
        {"wrong-channel", required_argument, nullptr, kWrongChannel},
        {"channels", required_argument, nullptr, kChannels},
        {"crlf", no_argument, nullptr, kCrlf},
        {"noise", no_argument, nullptr, kNoise},
        {"exit-after", required_argument, nullptr, kExitAfter},
        {"reply-delay", required_argument, nullptr, kReplyDelay},
        {"fixture", required_argument, nullptr, kFixture},
        {"present", required_argument, nullptr, kPresent},
        {"absent", required_argument, nullptr, kAbsent},
        {"hold", no_argument, nullptr, kHold},
        {"late", required_argument, nullptr, kLate},
        {"swap-after", required_argument, nullptr, kSwapAfter},
        {"reply", required_argument, nullptr, kReply},
        {"vanish-after", required_argument, nullptr, kVanishAfter},
        {"relink-after", required_argument, nullptr, kRelinkAfter},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    EngineOptions& engine = settings->engine;
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1) {
        const std::string value = optarg ? optarg : "";
        switch (option) {
            case kKind:
                if (value == "rx") {
                    engine.kind = ModuleKind::Receiver;
                } else if (value == "tx") {
                    engine.kind = ModuleKind::Transmitter;
                } else {
                    return UsageError("--kind must be rx or tx");
                }
                settings->kindGiven = true;
                break;
            case kFolder:
                if (value.empty()) return UsageError("--folder must not be empty");
                settings->ports = value + "/ports";
                break;
            case kCom:
                if (!ParseNumber(optarg, 1, 255, &settings->com)) {
                    return UsageError("--com must be a number from 1 to 255");
                }
                break;
            case kSerial:
                if (!FitsInReply(value, 6) || !IsHex(value)) {
                    return UsageError("--serial must be six hex digits");
                }
                engine.serial = value;
                break;
            case kVersion:
                if (!FitsInReply(value, 5)) return UsageError("--version must be five characters");
                engine.version = value;
                break;
            case kDate:
                if (!FitsInReply(value, 10)) return UsageError("--date must be ten characters");
                engine.date = value;
                break;
            case kOffset:
                if (!FitsInReply(value, 2)) return UsageError("--offset must be two characters");
                engine.offset = value;
                break;
            case kStore:
                if (value.empty()) return UsageError("--store must name a file");
                settings->storePath = value;
                break;
            case kRecord:
                if (value.empty()) return UsageError("--record must name a file");
                settings->recordPath = value;
                break;
            case kSilent:
                engine.silent = true;
                break;
            case kDropNth:
                if (!ParseNumber(optarg, 1, INT_MAX, &engine.dropNth)) {
                    return UsageError("--drop-nth must be a number from 1 on");
                }
                break;
            case kDrop:
                if (value.empty()) return UsageError("--drop must not be empty");
                engine.dropPrefixes.push_back(value);
                break;
            case kOtherKind:
                engine.otherKind = true;
                break;
            case kWrongChannel:
                if (!ParseNumber(optarg, 0, modsim::kMaxChannelCount - 1, &engine.wrongChannel)) {
                    return UsageError("--wrong-channel must be a channel, 0 to 7");
                }
                break;
            case kChannels:
                if (!ParseNumber(optarg, 1, modsim::kMaxChannelCount, &engine.channelCount)) {
                    return UsageError("--channels must be 1 to 8");
                }
                break;
            case kCrlf:
                engine.crlf = true;
                break;
            case kNoise:
                engine.noise = true;
                break;
            case kExitAfter:
                if (!ParseNumber(optarg, 1, INT_MAX, &engine.exitAfter)) {
                    return UsageError("--exit-after must be a number from 1 on");
                }
                break;
            case kReplyDelay:
                if (!ParseNumber(optarg, 0, 60000, &settings->replyDelayMs)) {
                    return UsageError("--reply-delay must be milliseconds from 0 to 60000");
                }
                break;
            case kFixture:
                if (!ParseNumber(optarg, 1, 0xFFFFFF, &settings->fixture.modules)) {
                    return UsageError("--fixture must be a number of modules from 1 on");
                }
                break;
            case kPresent:
            case kAbsent:
                if (!ParseNumber(optarg, 1, 3600000,
                                 option == kPresent ? &settings->fixture.presentMs
                                                    : &settings->fixture.absentMs)) {
                    return UsageError(std::string(option == kPresent ? "--present" : "--absent") +
                                      " must be milliseconds from 1 to 3600000");
                }
                break;
            case kHold:
                settings->fixture.hold = true;
                break;
            case kSwapAfter:
                if (value.empty()) return UsageError("--swap-after needs a command prefix");
                engine.swapAfter = value;
                break;
            case kReply: {
                const std::size_t colon = value.find(':');
                if (colon == std::string::npos || colon == 0) {
                    return UsageError("--reply must be PREFIX:REPLY, e.g. \"/D:*D ZZ\"");
                }
                engine.replies.emplace_back(value.substr(0, colon), value.substr(colon + 1));
                break;
            }
            case kLate: {
                const std::size_t colon = value.rfind(':');
                int ms = 0;
                if (colon == std::string::npos || colon == 0 ||
                    !ParseNumber(value.c_str() + colon + 1, 0, 60000, &ms)) {
                    return UsageError("--late must be PREFIX:MS with MS from 0 to 60000");
                }
                settings->late.emplace_back(value.substr(0, colon), ms);
                break;
            }
            case kVanishAfter:
                if (!ParseNumber(optarg, 0, INT_MAX, &settings->vanishAfterMs)) {
                    return UsageError("--vanish-after must be milliseconds from 0 on");
                }
                break;
            case kRelinkAfter:
                if (!ParseNumber(optarg, 0, INT_MAX, &settings->relinkAfterMs)) {
                    return UsageError("--relink-after must be milliseconds from 0 on");
                }
                break;
            case kHelp:
                std::cout << kUsage;
                return 0;
            case ':':
                return UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
            default:
                return UsageError(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    if (optind < argc) return UsageError(std::string("unexpected argument ") + argv[optind]);
    if (!settings->kindGiven) return UsageError("--kind is required");
    if (settings->ports.empty()) settings->ports = SuitePortsFolder();
    return -1;
}

// Signals only write a byte here; the poll loop sees it and shuts down
// cleanly, removing the link.
int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

bool InstallSignalHandlers() {
    if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        if (sigaction(signal, &action, nullptr) != 0) return false;
    }
    // A test that stops reading our stdout must not kill us.
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool ReadFile(const std::string& path, std::string* content) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream text;
    text << file.rdbuf();
    *content = text.str();
    return true;
}

// Written aside and renamed, so a reader never sees half a store.
bool WriteStore(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) return false;
        file << content;
        file.flush();
        if (!file) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

int MillisecondsUntil(Clock::time_point when, Clock::time_point now) {
    if (when <= now) return 0;
    // Rounded up, so the wait never ends just before the moment and spins.
    const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(when - now).count();
    return static_cast<int>((micro + 999) / 1000);
}

// Waits (without spinning, still answering to signals) until the tool has
// read what was sent or the time is up; closing the terminal throws away
// what the tool has not read yet. The kernel hands written bytes to the
// tool's side a little later, so at first an empty queue proves nothing.
void WaitUntilRead(const modsim::PtyLink& link) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point settled = start + std::chrono::milliseconds(kHandOverMs);
    const Clock::time_point deadline = start + std::chrono::milliseconds(kLastReplyWaitMs);
    while (true) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline || (now >= settled && link.UnreadByTool() == 0)) return;
        pollfd signalFd{gSignalPipe[0], POLLIN, 0};
        if (poll(&signalFd, 1, 10) > 0) return;
    }
}

struct Scheduled {
    Clock::time_point due;
    std::string bytes;
};

// The options of the fixture's n-th module (0 first): the serial number
// counts up from the given one.
EngineOptions FixtureModule(const EngineOptions& first, int n) {
    EngineOptions options = first;
    const long serial = (std::strtol(first.serial.c_str(), nullptr, 16) + n) & 0xFFFFFF;
    char text[8];
    std::snprintf(text, sizeof text, "%06lX", serial);
    options.serial = text;
    return options;
}

int Run(const Settings& settings) {
    ModuleEngine engine(settings.engine);
    const Fixture& fixture = settings.fixture;
    int fixtureModule = 0;  // the module in the fixture (or the next one while empty)
    bool socketEmpty = false;
    Clock::time_point fixtureChangeAt = Clock::time_point::max();

    if (!settings.storePath.empty()) {
        std::string content;
        if (ReadFile(settings.storePath, &content) && !engine.LoadStoreText(content)) {
            std::cerr << "modsim: " << settings.storePath << " is not a store file of a "
                      << (settings.engine.kind == ModuleKind::Receiver ? "receiver" : "transmitter")
                      << "\n";
            return 1;
        }
    }
    int record = -1;
    if (!settings.recordPath.empty()) {
        record = open(settings.recordPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (record < 0) {
            std::cerr << "modsim: cannot open " << settings.recordPath << ": "
                      << std::strerror(errno) << "\n";
            return 1;
        }
    }
    if (!InstallSignalHandlers()) {
        std::cerr << "modsim: cannot install signal handlers: " << std::strerror(errno) << "\n";
        return 1;
    }

    // The device may be absent for a while (not plugged in yet, or pulled):
    // then there is no terminal and no link.
    const Clock::time_point started = Clock::now();
    std::optional<Clock::time_point> vanishAt;
    std::optional<Clock::time_point> relinkAt;
    if (settings.vanishAfterMs >= 0) {
        vanishAt = started + std::chrono::milliseconds(settings.vanishAfterMs);
    } else if (settings.relinkAfterMs >= 0) {
        relinkAt = started + std::chrono::milliseconds(settings.relinkAfterMs);
    }
    std::string error;
    std::unique_ptr<modsim::PtyLink> link;
    if (!relinkAt) {
        link = modsim::PtyLink::Create(settings.ports, settings.com, &error);
        if (!link) {
            std::cerr << "modsim: " << error << "\n";
            return 1;
        }
    }

    std::deque<Scheduled> scheduled;  // replies waiting for their delay
    std::string outgoing;             // due, not yet taken by the terminal
    // A module that was just powered up may put garbage on the line. It is
    // in the terminal before "ready" is printed, so a test can count on it.
    if (link && settings.engine.noise) {
        const std::string burst = engine.NoiseBurst();
        if (!WriteAll(link->MasterFd(), burst.data(), burst.size())) {
            std::cerr << "modsim: writing noise: " << std::strerror(errno) << "\n";
        }
    }

    const char* kindName = settings.engine.kind == ModuleKind::Receiver ? "rx" : "tx";
    if (link) {
        std::printf("modsim ready %s %s -> %s\n", kindName, link->LinkPath().c_str(),
                    link->SlavePath().c_str());
    } else {
        std::printf("modsim ready %s %s/COM%d -> (not linked yet)\n", kindName,
                    settings.ports.c_str(), settings.com);
    }
    std::fflush(stdout);

    const auto replyDelay = std::chrono::milliseconds(settings.replyDelayMs);
    Clock::time_point masterBackAt{};  // after a hang-up, leave the master alone until then
    // A held module's time starts when its last channel has been read back.
    const auto presentUntil = [&fixture](Clock::time_point now) {
        return fixture.hold ? Clock::time_point::max()
                            : now + std::chrono::milliseconds(fixture.presentMs);
    };
    if (fixture.modules > 0) fixtureChangeAt = presentUntil(Clock::now());
    while (true) {
        Clock::time_point now = Clock::now();
        if (now >= fixtureChangeAt) {
            if (!socketEmpty) {
                // Taken out: what it had not sent yet is lost with it.
                socketEmpty = true;
                scheduled.clear();
                outgoing.clear();
                ++fixtureModule;
                fixtureChangeAt = fixtureModule < fixture.modules
                                      ? now + std::chrono::milliseconds(fixture.absentMs)
                                      : Clock::time_point::max();
            } else {
                socketEmpty = false;
                engine = ModuleEngine(FixtureModule(settings.engine, fixtureModule));
                if (!settings.storePath.empty()) WriteStore(settings.storePath, engine.StoreText());
                fixtureChangeAt = presentUntil(now);
            }
        }
        if (vanishAt && now >= *vanishAt) {
            vanishAt.reset();
            // What was on its way is lost with the device.
            link.reset();
            scheduled.clear();
            outgoing.clear();
            std::printf("modsim vanished\n");
            std::fflush(stdout);
            if (settings.relinkAfterMs >= 0) {
                relinkAt = now + std::chrono::milliseconds(settings.relinkAfterMs);
            }
        }
        if (relinkAt && now >= *relinkAt) {
            relinkAt.reset();
            link = modsim::PtyLink::Create(settings.ports, settings.com, &error);
            if (!link) {
                std::cerr << "modsim: " << error << "\n";
                return 1;
            }
            masterBackAt = {};
            std::printf("modsim linked %s -> %s\n", link->LinkPath().c_str(),
                        link->SlavePath().c_str());
            std::fflush(stdout);
        }
        while (!scheduled.empty() && scheduled.front().due <= now) {
            outgoing += scheduled.front().bytes;
            scheduled.pop_front();
        }
        if (engine.Finished() && scheduled.empty() && outgoing.empty()) {
            if (link) WaitUntilRead(*link);
            break;
        }

        int timeout = kIdleWaitMs;
        if (fixtureChangeAt != Clock::time_point::max())
            timeout = std::min(timeout, MillisecondsUntil(fixtureChangeAt, now));
        if (!scheduled.empty())
            timeout = std::min(timeout, MillisecondsUntil(scheduled.front().due, now));
        for (const auto& when : {vanishAt, relinkAt}) {
            if (when) timeout = std::min(timeout, MillisecondsUntil(*when, now));
        }
        const bool masterUsable = link && now >= masterBackAt;
        if (link && !masterUsable)
            timeout = std::min(timeout, MillisecondsUntil(masterBackAt, now));

        pollfd fds[2] = {{gSignalPipe[0], POLLIN, 0}, {-1, 0, 0}};
        if (masterUsable) {
            fds[1].fd = link->MasterFd();
            fds[1].events = static_cast<short>(POLLIN | (outgoing.empty() ? 0 : POLLOUT));
        }
        const int ready = poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::cerr << "modsim: poll: " << std::strerror(errno) << "\n";
            return 1;
        }
        if (fds[0].revents != 0) break;  // SIGTERM, SIGINT or SIGHUP
        const short events = fds[1].revents;
        bool hangup = (events & (POLLHUP | POLLERR)) != 0 && (events & POLLIN) == 0;

        if (events & POLLIN) {
            char buffer[4096];
            const ssize_t count = read(link->MasterFd(), buffer, sizeof buffer);
            if (count > 0) {
                const std::string_view bytes(buffer, static_cast<std::size_t>(count));
                if (record >= 0 && !WriteAll(record, bytes.data(), bytes.size())) {
                    std::cerr << "modsim: writing " << settings.recordPath << ": "
                              << std::strerror(errno) << "\n";
                }
                std::string reply = socketEmpty ? std::string() : engine.Receive(bytes);
                if (fixture.hold && !socketEmpty && fixtureChangeAt == Clock::time_point::max() &&
                    fixture.modules > 0 &&
                    engine.LastCommand().rfind("/R 0" + std::to_string(settings.engine.channelCount - 1),
                                               0) == 0) {
                    fixtureChangeAt = Clock::now() + std::chrono::milliseconds(fixture.presentMs);
                }
                if (!reply.empty()) {
                    auto delay = replyDelay;
                    for (const auto& [prefix, ms] : settings.late) {
                        if (engine.LastCommand().rfind(prefix, 0) == 0) {
                            delay += std::chrono::milliseconds(ms);
                        }
                    }
                    // Replies leave in order: a late one holds back those after it.
                    Clock::time_point due = Clock::now() + delay;
                    if (!scheduled.empty()) due = std::max(due, scheduled.back().due);
                    scheduled.push_back({due, std::move(reply)});
                }
                if (!settings.storePath.empty() && engine.TakeStoreChanged() &&
                    !WriteStore(settings.storePath, engine.StoreText())) {
                    std::cerr << "modsim: cannot write " << settings.storePath << "\n";
                }
            } else if (count < 0 && errno == EIO) {
                hangup = true;
            }
        }
        if ((events & POLLOUT) && !outgoing.empty()) {
            const ssize_t written = write(link->MasterFd(), outgoing.data(), outgoing.size());
            if (written > 0) {
                outgoing.erase(0, static_cast<std::size_t>(written));
            } else if (written < 0 && errno == EIO) {
                hangup = true;
            }
        }
        // With no slave open the master keeps reporting a hang-up; polling it
        // again at once would spin, so it is left alone for a while.
        if (hangup) masterBackAt = Clock::now() + std::chrono::milliseconds(kHangupWaitMs);
    }

    if (link) link->RemoveLink();
    if (record >= 0) close(record);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    const int status = ParseArguments(argc, argv, &settings);
    if (status >= 0) return status;
    return Run(settings);
}
