#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace modsim {

// A pseudo-terminal whose slave side is reachable as <ports>/COM<n>, in a
// folder of COM names the tools look COMn up in before anything else.
class PtyLink {
  public:
    // Opens the terminal, puts it in raw mode and makes the link (creating
    // the folder when missing and replacing a stale link). Nothing on failure,
    // with the reason in *error.
    static std::unique_ptr<PtyLink> Create(const std::string& ports, int com, std::string* error);

    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Non-blocking; read and write the module's side here.
    int MasterFd() const { return master_; }
    const std::string& LinkPath() const { return linkPath_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Bytes sent to the tool that it has not read yet.
    std::size_t UnreadByTool() const;

    // Removes the link if it still points at this terminal (another
    // simulator may have taken the name over since). Safe to call twice.
    void RemoveLink();

  private:
    PtyLink() = default;

    int master_ = -1;
    // Held open for the simulator's whole life: with no slave open the master
    // reports EIO, and a tool closing and reopening the port would race that.
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
    bool linked_ = false;
};

}  // namespace modsim
