// The reply parser: everything the port receives goes through the window
// model's receive handler (Term, the line cutter, the reply dispatch).
// Throughput on a mix of valid replies and line noise, for several sizes of
// what one receive event brings, and the resident memory before and after
// 100 MB of noise that never makes a complete reply.
//
//   reply_parser_bench [--noise-mb 100] [--min-ms 400] [--window-ms 400]
#include <QApplication>
#include <functional>
#include <memory>
#include <random>

#include "bench_support.h"
#include "fakes.h"
#include "form_window.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

using testing_support::Harness;

constexpr double kMB = 1e6;
constexpr double kTargetMBps = 10;

// A window model on the fakes with the port open and the grid filled by one
// refresh, so read-back and echo replies have values to agree with.
struct Model {
    explicit Model(const window::ToolProfile& profile, bool debugLayout = false) : h(profile) {
        if (debugLayout) testing_support::WriteFile(h.model.SettingsPath(), "DEBUG,ON,\r\n");
        h.StartUp();
        h.OpenPort();
        h.Advance(50);
    }
    Harness h;
};

std::string Column(const window::FormModel& m, int channel) {
    std::string out;
    for (int k = 1; k <= m.Profile().RegisterRows(); ++k) {
        if (k > 1) out += ",";
        out += m.MSFlexGrid1.Cell(k, channel + 1);
    }
    return out;
}

// Random bytes that are never "*", as a noisy line brings between replies.
void AppendNoise(std::string& out, std::mt19937& rng, int length) {
    for (int i = 0; i < length; ++i) {
        char c = static_cast<char>(rng() & 0xFF);
        if (c == '*') c = '+';
        out += c;
    }
}

// About `size` bytes: the replies the tool gets from a module of its kind,
// every one of them consistent with the window, with noise in between (about
// half of the bytes).
std::string ValidMix(const window::FormModel& m, std::size_t size) {
    const module::Kind& p = m.Profile().Kind();
    const bool rx = p.letter == 'R';
    std::vector<std::string> replies = {
        rx ? "*V R1.05 RX-434 SIM" : "*V T2.10 TX-434 SIM",
        rx ? "*D 012345 2026/11/30" : "*D 012345 2026/11/30 FO=1A",
        "*T" + std::string(static_cast<std::size_t>(p.testEchoFirstPos - 3), ' ') + Column(m, 0),
        "*W 00," + Column(m, 0),
        "*C 00 OK",
    };
    for (int c = 0; c < 4; ++c) replies.push_back("*R 0" + std::to_string(c) + "," + Column(m, c));
    if (p.hasCommonParam) replies.push_back("*M " + p.commonParam);

    std::mt19937 rng(1);
    std::string out;
    while (out.size() < size) {
        out += replies[rng() % replies.size()];
        out += rng() % 4 ? "\r" : "\r\n";
        AppendNoise(out, rng, static_cast<int>(rng() % 40));
    }
    return out;
}

enum class NoiseKind { NoStar, StarNoCr, ChannelAbove3 };

const char* NoiseName(NoiseKind kind) {
    switch (kind) {
        case NoiseKind::NoStar:
            return "noise without \"*\"";
        case NoiseKind::StarNoCr:
            return "noise with \"*\", never a CR";
        case NoiseKind::ChannelAbove3:
            return "lines with a channel above 3";
    }
    return "";
}

std::string Noise(NoiseKind kind, std::size_t size) {
    std::mt19937 rng(2);
    std::string out;
    out.reserve(size);
    switch (kind) {
        case NoiseKind::NoStar:
            AppendNoise(out, rng, static_cast<int>(size));
            break;
        case NoiseKind::StarNoCr:
            while (out.size() < size) {
                char c = static_cast<char>(rng() & 0xFF);
                if (c == '\r') c = '\n';
                if (rng() % 16 == 0) c = '*';
                out += c;
            }
            break;
        case NoiseKind::ChannelAbove3:
            while (out.size() < size) {
                const unsigned channel = 4 + rng() % 252;
                char field[3];
                std::snprintf(field, sizeof field, "%02X", channel);
                out += rng() % 2 ? "*R " : "*W ";
                out += field;
                out += ",A4,06,02,01,10\r";
            }
            break;
    }
    out.resize(size);
    return out;
}

// Feeds `stream` in receive events of `chunk` bytes, over and over, until at
// least `bytes` went in and `minMs` passed; MB/s. `after` runs after each
// event.
double Feed(testing_support::FakeSerialPort& port, const std::string& stream, std::size_t chunk,
            double bytes, long minMs, const std::function<void()>& after = nullptr) {
    std::size_t at = 0;
    double fed = 0;
    const long long start = bench::MonotonicNs();
    long long now = start;
    while (fed < bytes || now - start < minMs * 1000000LL) {
        for (int i = 0; i < 64; ++i) {
            if (at + chunk > stream.size()) at = 0;
            port.Receive(stream.substr(at, chunk));
            if (after) after();
            at += chunk;
            fed += static_cast<double>(chunk);
        }
        now = bench::MonotonicNs();
    }
    return fed / kMB / (static_cast<double>(now - start) / 1e9);
}

void Throughput(const std::string& tool, const window::ToolProfile& profile, long minMs) {
    Model m(profile);
    const std::string mix = ValidMix(m.h.model, 1 << 20);
    for (const std::size_t chunk : {1, 16, 256, 4096, 65536}) {
        const double mbps = Feed(m.h.port, mix, chunk, 0, minMs);
        bench::Row(bench::Format("%s: valid replies + noise, %zu-byte events", tool.c_str(), chunk),
                   bench::Format("%.1f MB/s", mbps), "target > 10 MB/s",
                   bench::Verdict(mbps > kTargetMBps));
    }
    const window::FormModel& f = m.h.model;
    // A version reply clears the serial number, so that may be empty here.
    const bool consistent =
        f.T_Message.text.empty() && f.C_Message.text.empty() && !f.Version.text.empty();
    std::printf(
        "%s: after the mix: Version \"%s\" Serial \"%s\" T_Message \"%s\" C_Message \"%s\"\n",
        tool.c_str(), f.Version.text.c_str(), f.Serial.text.c_str(), f.T_Message.text.c_str(),
        f.C_Message.text.c_str());
    if (!consistent) {
        bench::Note(tool +
                    ": the valid mix did not leave the window as a valid module would: "
                    "the figures are not of the intended replies");
    }
}

// The same receive path as the program runs it: the real window renders
// after each event and the event loop repaints. Term (in the debug frame,
// outside the window in the normal layout) is rebuilt and laid out anew on
// every event, however few bytes it brought.
void WithWindow(const window::ToolProfile& profile, bool debugLayout, long minMs) {
    Model m(profile, debugLayout);
    window::FormWindow win(m.h.model);
    m.h.port.SetReceiveHandler(
        [&](wire::CommEvent e) { win.Handle([&] { m.h.model.OnMSComm1Receive(e); }); });
    win.Render();
    win.show();
    QApplication::processEvents();
    const std::string mix = ValidMix(m.h.model, 1 << 20);
    constexpr double kLineBytesPerSecond = 480;  // 4800 baud, 10 bits a byte
    // Single bytes, and the 8 a common UART's receive FIFO hands over at once.
    for (const std::size_t chunk : {1, 8}) {
        const double mbps =
            Feed(m.h.port, mix, chunk, 0, minMs, [] { QApplication::processEvents(); });
        const double usPerEvent = static_cast<double>(chunk) / (mbps * kMB) * 1e6;
        const double lineLoad = kLineBytesPerSecond / static_cast<double>(chunk) * usPerEvent / 1e4;
        bench::Row(
            bench::Format("%s with its window (%s layout), %zu-byte events",
                          profile.programName.c_str(), debugLayout ? "debug" : "normal", chunk),
            bench::Format("%.0f us/event = %.0f %% of a core while the line is busy", usPerEvent,
                          lineLoad),
            "information: handler + render + repaint");
    }
}

void Memory(long noiseMb) {
    Model m(RecvSetupProfile());
    const std::vector<NoiseKind> kinds = {NoiseKind::NoStar, NoiseKind::StarNoCr,
                                          NoiseKind::ChannelAbove3};
    std::vector<std::string> streams;
    for (NoiseKind k : kinds) streams.push_back(Noise(k, 1 << 20));
    const std::size_t chunk = 1024;
    // One pass of each first, so that what any receive allocates anyway
    // (Term's text, the received copy) is in place before the "before".
    for (const std::string& s : streams) Feed(m.h.port, s, chunk, 1 << 20, 0);

    const double share = static_cast<double>(noiseMb) * kMB / static_cast<double>(kinds.size());
    const long before = bench::VmRssKb();
    std::vector<double> rates;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        rates.push_back(Feed(m.h.port, streams[i], chunk, share, 0));
    }
    const long after = bench::VmRssKb();
    const window::FormModel& f = m.h.model;
    std::printf("after the noise: RxBuffer %zu bytes (capacity %zu), Term %zu bytes\n",
                f.Engine().State().rxBuffer.size(), f.Engine().State().rxBuffer.capacity(), f.Term.text.size());

    for (std::size_t i = 0; i < kinds.size(); ++i) {
        bench::Row(bench::Format("recvsetup: %s, %zu-byte events", NoiseName(kinds[i]), chunk),
                   bench::Format("%.1f MB/s", rates[i]), "target > 10 MB/s",
                   bench::Verdict(rates[i] > kTargetMBps));
    }
    const long growth = after - before;
    bench::Row(bench::Format("resident memory before/after %ld MB of that noise", noiseMb),
               bench::Format("%ld kB -> %ld kB (%+ld kB)", before, after, growth),
               "target: no growth", bench::Verdict(growth <= 0));
}

}  // namespace

int main(int argc, char** argv) {
    const long noiseMb = bench::Option(argc, argv, "--noise-mb", 100);
    const long minMs = bench::Option(argc, argv, "--min-ms", 400);
    const long windowMs = bench::Option(argc, argv, "--window-ms", minMs);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

    bench::Section(
        "Reply parser: the model's receive handler on the fake port (1 MB = 10^6 bytes)");
    Throughput("recvsetup", RecvSetupProfile(), minMs);
    Throughput("sendsetup", SendSetupProfile(), minMs);
    Memory(noiseMb);
    bench::Note("At 4800 baud the line brings at most 480 bytes/s (0.00048 MB/s).");
    {
        QApplication app(argc, argv);
        WithWindow(RecvSetupProfile(), false, windowMs);
        WithWindow(RecvSetupProfile(), true, windowMs);
    }
    return 0;
}
