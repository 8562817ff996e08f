#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "child_process.h"

namespace e2e {

namespace {

using child::Spawn;

bool Alive(pid_t& pid) {
    if (pid <= 0) return false;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return false;
    }
    return true;
}

// Waits for the child and forgets it once it has ended.
int WaitExit(pid_t& pid, int timeoutMs) {
    if (pid <= 0) return -1;
    const int status = child::WaitExit(pid, timeoutMs);
    if (status >= 0) pid = -1;
    return status;
}

}  // namespace

std::string BinDir() {
    const char* dir = std::getenv("SETUP_BIN_DIR");
    return dir ? dir : "build/bin";
}

std::string TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/setup-e2e-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteTextFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

ModSim::ModSim(const std::string& folder, const std::string& kind,
               const std::vector<std::string>& options, int com) {
    recordPath_ = folder + "/modsim-" + std::to_string(com) + ".record";
    storePath_ = folder + "/modsim-" + std::to_string(com) + ".store";
    std::vector<std::string> argv = {
        BinDir() + "/modsim", "--kind",   kind,        "--folder", folder,    "--com",
        std::to_string(com),  "--record", recordPath_, "--store",  storePath_};
    argv.insert(argv.end(), options.begin(), options.end());
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = Spawn(argv, {}, out[1]);
    close(out[1]);
    // Wait for its "modsim ready" line: the link exists from then on.
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(out[0]);
    if (text.rfind("modsim ready", 0) != 0) throw std::runtime_error("modsim did not start");
}

ModSim::~ModSim() {
    if (Alive(pid_)) Stop();
}

bool ModSim::Running() {
    return Alive(pid_);
}

int ModSim::Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    return WaitExit(pid_, 10000);
}

void ModSim::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    WaitExit(pid_, 10000);
}

std::string ModSim::Recorded() const {
    return ReadFile(recordPath_);
}

std::string ModSim::Stored() const {
    return ReadFile(storePath_);
}

ToolProcess::ToolProcess(const std::string& tool, const std::string& folder,
                         const std::vector<std::string>& environment, bool asNobody) {
    namespace fs = std::filesystem;
    const std::string program = folder + "/" + tool;
    fs::copy_file(BinDir() + "/" + tool, program, fs::copy_options::overwrite_existing);
    std::vector<std::string> argv = {program};
    if (asNobody && geteuid() == 0) {
        argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", program};
    }
    pid_ = Spawn(argv, environment, -1);
}

ToolProcess::~ToolProcess() {
    if (Alive(pid_)) {
        kill(pid_, SIGKILL);
        WaitExit(pid_, 10000);
    }
}

bool ToolProcess::Running() {
    return Alive(pid_);
}

int ToolProcess::Terminate(int timeoutMs, int signal) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    return WaitExit(pid_, timeoutMs);
}

VirtualDisplay::VirtualDisplay() {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    // Xvfb picks a free display number and writes it to the descriptor.
    pid_ = Spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                  "1280x1024x24", "-nolisten", "tcp", "-dpi", "96",
                  // Without it the server resets whenever its last client
                  // leaves, refusing connections for a moment.
                  "-noreset"},
                 {}, -1);
    close(fds[1]);
    std::string number;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[32];
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0) break;
            number.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(fds[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start");
    display_ = ":" + number.substr(0, number.find('\n'));
    // The number comes a moment before the server takes connections.
    const std::string probe = "xdpyinfo -display " + display_ + " >/dev/null 2>&1";
    for (int i = 0; i < 100 && std::system(probe.c_str()) != 0; ++i) usleep(50000);
}

VirtualDisplay::~VirtualDisplay() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        WaitExit(pid_, 10000);
    }
}

std::string RunOnDisplay(const VirtualDisplay& display, const std::string& command) {
    const std::string line = "DISPLAY=" + display.Display() + " " + command;
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) return {};
    std::string out;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
    return out;
}

Session::Session(const window::ToolProfile& profile, const std::string& folder)
    : Session(profile, store::FilePlaces(folder, folder)) {}

Session::Session(const window::ToolProfile& profile, const store::FilePlaces& places)
    : session_(profile, places, profile.programName) {}

void Session::Click(const std::string& name) {
    auto* button = qobject_cast<QAbstractButton*>(Widget(name));
    if (!button) throw std::runtime_error("no button " + name);
    QTest::mouseClick(button, Qt::LeftButton);
}

void Session::SetText(const std::string& name, const std::string& text) {
    QWidget* w = Widget(name);
    QLineEdit* edit = qobject_cast<QLineEdit*>(w);
    if (auto* combo = qobject_cast<QComboBox*>(w)) edit = combo->lineEdit();
    if (!edit) throw std::runtime_error("no edit field " + name);
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromStdString(text));
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds(pid_t pid) {
    // Fields 14 and 15 of /proc/<pid>/stat: user and system time in ticks.
    std::istringstream stat(ReadFile("/proc/" + std::to_string(pid) + "/stat"));
    std::string field;
    const std::string all = stat.str();
    const std::size_t close = all.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(all.substr(close + 2));
    long ticks[2] = {0, 0};
    for (int i = 3; i <= 15; ++i) {
        rest >> field;
        if (i == 14) ticks[0] = std::stol(field);
        if (i == 15) ticks[1] = std::stol(field);
    }
    return static_cast<double>(ticks[0] + ticks[1]) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace e2e
