#pragma once

#include <sys/types.h>

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "run_tool.h"
#include "tool_profile.h"

namespace e2e {

// The folder that holds the built programs (build/bin).
std::string BinDir();

// A simulated module on a pseudo-terminal, linked as <folder>/ports/COM<com>.
class ModSim {
  public:
    ModSim(const std::string& folder, const std::string& kind,
           const std::vector<std::string>& options = {}, int com = 1);
    ~ModSim();

    bool Running();
    // Asks it to stop (SIGTERM) and waits; returns its exit status.
    int Stop();
    // Kills it at once, as if the cable were pulled.
    void Kill();
    // Every byte it received so far.
    std::string Recorded() const;
    // The stored channels, as modsim keeps them in its store file.
    std::string Stored() const;
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    std::string recordPath_;
    std::string storePath_;
};

// A running program: a child process of a built tool copied into its own
// program folder, so its settings and log files stay apart from others.
class ToolProcess {
  public:
    // With asNobody (when the tests run as root) the program runs as the
    // unprivileged user, so folder permissions bind it.
    ToolProcess(const std::string& tool, const std::string& folder,
                const std::vector<std::string>& environment, bool asNobody = false);
    ~ToolProcess();
    bool Running();
    // SIGTERM (or the given signal), then the exit status (-1 if it did not
    // end in time).
    int Terminate(int timeoutMs = 10000, int signal = 15);
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// An X server of its own for a test (Xvfb), on a free display number.
class VirtualDisplay {
  public:
    VirtualDisplay();
    ~VirtualDisplay();
    // "DISPLAY=:n"
    std::string Environment() const { return "DISPLAY=" + display_; }
    const std::string& Display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// Runs a command line through the shell with DISPLAY set; its standard output.
std::string RunOnDisplay(const VirtualDisplay& display, const std::string& command);

// One tool's window with the real serial port, timers and files, run inside
// the test's event loop; the program folder is a fresh temporary one.
class Session {
  public:
    Session(const window::ToolProfile& profile, const std::string& folder);
    Session(const window::ToolProfile& profile, const store::FilePlaces& places);
    void Start() { session_.Start(); }
    window::FormModel& Model() { return session_.Model(); }
    window::FormWindow& Window() { return session_.Window(); }
    wire::SerialPort& Port() { return session_.Port(); }
    QWidget* Widget(const std::string& name) { return session_.Window().Widget(name); }
    // Clicks a button by its name, as the operator would.
    void Click(const std::string& name);
    // Types a text into a list's or a box's edit field.
    void SetText(const std::string& name, const std::string& text);

  private:
    window::ToolSession session_;
};

// Runs the event loop until the condition holds or the time is up.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// CPU seconds this process used so far (user + system).
double ProcessCpuSeconds();
double ProcessCpuSeconds(pid_t pid);

std::string TempFolder();
std::string ReadFile(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& content);

}  // namespace e2e
