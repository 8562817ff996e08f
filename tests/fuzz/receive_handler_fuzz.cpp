// Feeds arbitrary received bytes to the window's receive handler, in receive
// events of arbitrary sizes, with sequence ticks and port toggles between
// them. Whatever the line brings, the text kept between events stays bounded
// and Term shows exactly the last 1000 received bytes.
//
// Input layout:
//   byte 0: bit 0 the tool (0 recvsetup, 1 sendsetup); bits 1-3 the sequence
//           started after opening (1 Get Info., 2 Test, 3 Check, 4 Write,
//           else none); bits 4-5 the channel of the Test.
//   then control bytes, each followed by what it needs:
//     0x00-0x7F  n: one receive event with the next n+1 bytes
//     0x80-0xEF  c: one receive event with the next (c & 0x0F)+1 bytes
//                repeated ((c >> 4) - 7) * 256 times (long reads, backlogs)
//     0xF0-0xFE  c: time runs on by (c & 0x0F) * 20 + 1 ms (timer ticks)
//     0xFF       a click of "Open"/"Close"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fakes.h"
#include "recv_profile.h"
#include "send_profile.h"
#include "text_encoding.h"

namespace {

// No settings file is read or made: the folder can never exist.
constexpr const char* kNoFolder = "/dev/null/receive-handler-fuzz";
constexpr std::size_t kRxBound = 16 * 1024 + 64;
constexpr std::size_t kTermBytes = 1000;
constexpr int kMaxClockSteps = 64;

void require(bool ok) {
    if (!ok) std::abort();
}

void StartSequence(window::FormModel& m, std::uint8_t mode) {
    switch ((mode >> 1) & 7) {
        case 1:
            m.OnGetInfoSWClick();
            break;
        case 2:
            m.OnChTestSWClick((mode >> 4) & 3);
            break;
        case 3:
            m.EnableModuleButtons();
            m.OnChCheckSWClick();
            break;
        case 4:
            m.EnableModuleButtons();
            m.OnChWriteSWClick();
            break;
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    testing_support::Harness h((mode & 1) ? SendSetupProfile() : RecvSetupProfile(), kNoFolder);
    h.StartUp();
    h.Advance(50);  // the refresh fills the register grid
    h.OpenPort();
    require(h.port.open);
    window::FormModel& m = h.model;
    StartSequence(m, mode);

    std::string shown;  // the last received bytes, as Term must show them
    int clockSteps = 0;
    std::size_t i = 1;
    while (i < size) {
        const std::uint8_t c = data[i++];
        if (c == 0xFF) {
            m.OnComStartClick();
            continue;
        }
        if (c >= 0xF0) {
            if (clockSteps++ < kMaxClockSteps) h.Advance((c & 0x0F) * 20 + 1);
            continue;
        }
        std::size_t length = c < 0x80 ? c + 1u : (c & 0x0Fu) + 1u;
        if (length > size - i) length = size - i;
        std::string chunk(reinterpret_cast<const char*>(data + i), length);
        i += length;
        if (c >= 0x80) {
            const std::size_t times = ((c >> 4) - 7u) * 256u;
            std::string repeated;
            repeated.reserve(chunk.size() * times);
            for (std::size_t k = 0; k < times; ++k) repeated += chunk;
            chunk.swap(repeated);
        }

        h.port.Receive(chunk);

        shown += chunk;
        if (shown.size() > kTermBytes) shown.erase(0, shown.size() - kTermBytes);
        require(m.Engine().State().rxBuffer.size() <= kRxBound);
        require(m.Term.text == window::Latin1ToUtf8(shown));
        require(m.Engine().State().replyFlag == 0 || m.Engine().State().replyFlag == 1);
        require(m.Engine().State().curChannel >= 0 && m.Engine().State().curChannel <= 3);
    }
    return 0;
}
