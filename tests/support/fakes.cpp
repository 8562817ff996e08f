#include "fakes.h"

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

bool FakeSerialPort::SetDtr(bool on) {
    if (failDtr) {
        lastError = "DTR failed";
        return false;
    }
    dtr = on;
    return true;
}

bool FakeSerialPort::SetRts(bool on) {
    if (failRts) {
        lastError = "RTS failed";
        return false;
    }
    rts = on;
    return true;
}

bool FakeSerialPort::Open() {
    openAttempts.push_back(portNumber);
    if (open || openable.count(portNumber) == 0) {
        lastError = "cannot open port " + std::to_string(portNumber);
        return false;
    }
    open = true;
    return true;
}

bool FakeSerialPort::Write(const std::string& bytes) {
    if (failWrite || !open) {
        if (!lost) lastError = "write failed";
        return false;
    }
    written += bytes;
    if (responder) queuedReplies += responder(bytes);
    return true;
}

std::string FakeSerialPort::ReadAll() {
    std::string out;
    out.swap(pending);
    return out;
}

void FakeSerialPort::Receive(const std::string& bytes) {
    pending += bytes;
    NotifyReceive(wire::CommEvent::Receive);
}

void FakeSerialPort::Lose(const std::string& reason, bool notify) {
    lost = true;
    failWrite = true;
    failRts = true;
    lastError = reason;
    if (notify) NotifyLost();
}

void FakeSerialPort::DeliverReplies() {
    if (queuedReplies.empty()) return;
    std::string replies;
    replies.swap(queuedReplies);
    Receive(replies);
}

std::string FakeSerialPort::TakeWritten() {
    std::string out;
    out.swap(written);
    return out;
}

void VirtualClock::TimerChanged(window::TimerId id, bool enabled, int intervalMs) {
    State& s = timers_[id];
    s.enabled = enabled;
    s.interval = intervalMs;
    s.due = now_ + intervalMs;
}

bool VirtualClock::Running(window::TimerId id) const {
    const auto it = timers_.find(id);
    return it != timers_.end() && it->second.enabled;
}

long VirtualClock::DueIn(window::TimerId id) const {
    const auto it = timers_.find(id);
    return it == timers_.end() ? -1 : it->second.due - now_;
}

bool VirtualClock::NextTick() {
    window::TimerId next{};
    long due = 0;
    bool found = false;
    for (const auto& [id, s] : timers_) {
        if (s.enabled && (!found || s.due < due)) {
            next = id;
            due = s.due;
            found = true;
        }
    }
    if (!found) return false;
    now_ = due;
    State& s = timers_[next];
    s.due = now_ + (s.interval > 0 ? s.interval : 1);
    if (handler_) handler_(next);
    return true;
}

void VirtualClock::Advance(long ms) {
    const long end = now_ + ms;
    for (;;) {
        long due = end + 1;
        for (const auto& [id, s] : timers_) {
            if (s.enabled && s.due < due) due = s.due;
        }
        if (due > end) break;
        NextTick();
    }
    now_ = end;
}

std::optional<std::string> FakeDialogs::OpenFileName(const std::string& filter,
                                                     const std::string& initialFolder) {
    lastFilter = filter;
    lastFolder = initialFolder;
    if (fileAnswers.empty()) return std::nullopt;
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

std::optional<std::string> FakeDialogs::SaveFileName(const std::string& filter,
                                                     const std::string& initialFolder) {
    return OpenFileName(filter, initialFolder);
}

bool FakeDialogs::AskOkCancel(const std::string& title, const std::string& text) {
    questionsAsked.emplace_back(title, text);
    if (questionAnswers.empty()) return false;
    const bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
}

Harness::Harness(const window::ToolProfile& profile, const std::string& folder)
    : model(profile, port, clock, dialogs, platform) {
    if (folder.empty()) {
        tempFolder = MakeTempFolder();
        platform.folder = tempFolder;
    } else {
        platform.folder = folder;
    }
    platform.name = profile.programName;
    clock.SetTickHandler([this](window::TimerId id) {
        port.DeliverReplies();
        model.OnTimer(id);
    });
    port.SetReceiveHandler([this](wire::CommEvent e) { model.OnMSComm1Receive(e); });
}

Harness::~Harness() {
    if (!tempFolder.empty()) RemoveFolder(tempFolder);
}

void Harness::StartUp() {
    model.StartUp();
}

void Harness::OpenPort() {
    model.Combo1.text = "COM" + std::to_string(*port.openable.begin());
    model.OnComStartClick();
}

void Harness::SetResponder(std::function<std::string(const std::string&)> responder) {
    port.responder = std::move(responder);
}

struct DiskFull::Saved {
    rlimit limit{};
    void (*handler)(int) = nullptr;
};

DiskFull::DiskFull() : saved_(new Saved) {
    saved_->handler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_->limit);
    rlimit tight = saved_->limit;
    tight.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &tight);
}

DiskFull::~DiskFull() {
    setrlimit(RLIMIT_FSIZE, &saved_->limit);
    std::signal(SIGXFSZ, saved_->handler);
    delete saved_;
}

std::string Buttons(const window::FormModel& model) {
    std::string s;
    for (const auto& b : model.ChTestSW) s += b.enabled ? 'T' : '-';
    s += model.GetInfoSW.enabled ? 'G' : '-';
    s += model.ChCheckSW.enabled ? 'C' : '-';
    s += model.ChWriteSW.enabled ? 'W' : '-';
    return s;
}

const char* ColourName(window::Colour colour) {
    switch (colour) {
        case window::Colour::Normal:
            return "Normal";
        case window::Colour::Ok:
            return "Ok";
        case window::Colour::RangeError:
            return "RangeError";
        case window::Colour::Blank:
            return "Blank";
        case window::Colour::Inexact:
            return "Inexact";
    }
    return "?";
}

std::string MakeTempFolder() {
    namespace fs = std::filesystem;
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/setup-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void RemoveFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace testing_support
