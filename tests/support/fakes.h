#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "form_model.h"
#include "seams.h"
#include "serial_port.h"

namespace testing_support {

// A serial port that records every write and lets a test inject received
// bytes and failures.
class FakeSerialPort : public wire::SerialPort {
  public:
    void SetPortNumber(int n) override { portNumber = n; }
    bool SetDtr(bool on) override;
    bool SetRts(bool on) override;
    bool Open() override;
    void Close() override {
        if (open) ++closes;
        open = false;
    }
    bool IsOpen() const override { return open; }
    bool Write(const std::string& bytes) override;
    std::string ReadAll() override;
    wire::LineSettings Settings() const override { return settings; }
    std::string LastError() const override { return lastError; }

    // Bytes arrive and the receive notification fires.
    void Receive(const std::string& bytes);
    // The device goes away: every later write and RTS request fails, and
    // the port reports the loss (notify = false: not yet noticed).
    void Lose(const std::string& reason, bool notify = true);
    void NotifyLost() { NotifyReceive(wire::CommEvent::Lost); }
    // Everything written since the last call, and forget it.
    std::string TakeWritten();

    int portNumber = 1;
    bool open = false;
    bool dtr = false;
    bool rts = false;
    std::set<int> openable = {1};  // port numbers that open
    bool failDtr = false;
    bool failRts = false;
    bool failWrite = false;
    wire::LineSettings settings;
    std::string lastError;
    std::string written;  // every byte written, in order
    std::string pending;  // received, not yet read
    std::vector<int> openAttempts;
    int closes = 0;     // closes of an open port
    bool lost = false;  // Lose() was called: writes keep its reason

    // A module behind the port: answers each write; the answer arrives
    // before the next timer tick (DeliverReplies).
    std::function<std::string(const std::string& command)> responder;
    std::string queuedReplies;
    void DeliverReplies();
};

// Timers on virtual time: Advance() fires every due tick in time order.
class VirtualClock : public window::TimerBackend {
  public:
    void SetTickHandler(std::function<void(window::TimerId)> handler) {
        handler_ = std::move(handler);
    }
    void TimerChanged(window::TimerId id, bool enabled, int intervalMs) override;
    // Moves time on by ms, firing the ticks that fall due on the way.
    void Advance(long ms);
    // Moves time to the next tick of any timer and fires it; false if none.
    bool NextTick();
    long Now() const { return now_; }
    bool Running(window::TimerId id) const;
    // Time until the timer's next tick.
    long DueIn(window::TimerId id) const;

  private:
    struct State {
        bool enabled = false;
        long interval = 0;
        long due = 0;
    };
    std::map<window::TimerId, State> timers_;
    long now_ = 0;
    std::function<void(window::TimerId)> handler_;
};

class FakeDialogs : public window::Dialogs {
  public:
    std::optional<std::string> OpenFileName(const std::string& filter,
                                            const std::string& initialFolder) override;
    std::optional<std::string> SaveFileName(const std::string& filter,
                                            const std::string& initialFolder) override;
    bool AskOkCancel(const std::string& title, const std::string& text) override;

    // Scripted answers, taken in order; nothing left means cancel.
    std::deque<std::optional<std::string>> fileAnswers;
    std::deque<bool> questionAnswers;
    std::vector<std::pair<std::string, std::string>> questionsAsked;  // title, text
    std::string lastFilter, lastFolder;
};

class FakePlatform : public window::Platform {
  public:
    std::string ProgramName() const override { return name; }
    std::string ConfigFolder() const override { return folder; }
    std::string DataFolder() const override { return dataFolder.empty() ? folder : dataFolder; }
    window::ProgramVersion Version() const override { return {1, 5, 2}; }
    long ScreenWidth() const override { return screenWidth; }
    long ScreenHeight() const override { return screenHeight; }
    char DecimalSeparator() const override { return separator; }
    std::string DateText() const override { return date; }
    std::string TimeText() const override { return time; }
    // Each COMn leads to "ttyFAKE<n>".
    struct FakeNames : wire::PortDirectory {
        wire::PortPlace PlaceOf(int n) const override {
            wire::PortPlace place;
            place.path = place.device = "ttyFAKE" + std::to_string(n);
            return place;
        }
    };
    const wire::PortDirectory& PortNames() const override { return names; }
    FakeNames names;

    std::string folder = "/nonexistent-program-folder";
    std::string dataFolder;  // empty: the same as folder
    std::string name = "recvsetup";
    long screenWidth = 1920 * 15;
    long screenHeight = 1080 * 15;
    char separator = '.';
    std::string date = "08/12/2026";
    std::string time = "14:03:07";
};

// A window model wired to the fakes, for one tool.
struct Harness {
    explicit Harness(const window::ToolProfile& profile, const std::string& folder = "");
    ~Harness();

    // Start-up as the program does it (settings read from folder, if any).
    void StartUp();
    // Opens the port as the operator would (port 1 = "COM1").
    void OpenPort();
    // Advances virtual time tick by tick.
    void Advance(long ms) { clock.Advance(ms); }
    // Arranges for the module to answer each command as it is written.
    void SetResponder(std::function<std::string(const std::string& command)> responder);

    FakeSerialPort port;
    VirtualClock clock;
    FakeDialogs dialogs;
    FakePlatform platform;
    window::FormModel model;
    std::string tempFolder;  // removed at the end when the harness made it
};

// Writes to files fail past a few bytes, as on a full disk, while it lives.
class DiskFull {
  public:
    DiskFull();
    ~DiskFull();

  private:
    struct Saved;
    Saved* saved_;
};

// The module buttons as the operator sees them: Test 0-3, Get Info., Check,
// Write; a letter for enabled, "-" for disabled ("TTTTGCW", "----G--").
std::string Buttons(const window::FormModel& model);

// "Normal", "Ok", "RangeError", "Blank", "Inexact".
const char* ColourName(window::Colour colour);

// A fresh empty folder under the build's temporary area.
std::string MakeTempFolder();
void RemoveFolder(const std::string& path);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace testing_support
