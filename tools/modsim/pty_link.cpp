#include "pty_link.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "file_system.h"

namespace modsim {

namespace {

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<PtyLink> PtyLink::Create(const std::string& ports, int com, std::string* error) {
    std::unique_ptr<PtyLink> link(new PtyLink);

    link->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (link->master_ < 0) {
        *error = Reason("posix_openpt");
        return nullptr;
    }
    if (grantpt(link->master_) != 0 || unlockpt(link->master_) != 0) {
        *error = Reason("unlocking the pseudo-terminal");
        return nullptr;
    }
    char name[128];
    if (ptsname_r(link->master_, name, sizeof name) != 0) {
        *error = Reason("ptsname");
        return nullptr;
    }
    link->slavePath_ = name;

    link->slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (link->slave_ < 0) {
        *error = Reason("opening " + link->slavePath_);
        return nullptr;
    }
    // A serial line passes bytes unchanged: no echo, no CR/LF translation.
    // The baud rate means nothing on a pty but keeps the nominal line.
    termios settings{};
    if (tcgetattr(link->slave_, &settings) != 0) {
        *error = Reason("tcgetattr");
        return nullptr;
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B4800);
    cfsetospeed(&settings, B4800);
    if (tcsetattr(link->slave_, TCSANOW, &settings) != 0) {
        *error = Reason("tcsetattr");
        return nullptr;
    }

    const int flags = fcntl(link->master_, F_GETFL);
    if (flags < 0 || fcntl(link->master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = Reason("making the master non-blocking");
        return nullptr;
    }

    // The folder itself may not exist yet either: an installed tool makes
    // its per-user folder only when it first starts.
    if (const int err = store::fsys::MakeFolders(ports)) {
        errno = err;
        *error = Reason("creating " + ports);
        return nullptr;
    }
    link->linkPath_ = ports + "/COM" + std::to_string(com);

    // A link left behind by a simulator that was killed is replaced; anything
    // else of that name is somebody's file and stays.
    struct stat existing {};
    if (lstat(link->linkPath_.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        *error = link->linkPath_ + " exists and is not a symbolic link";
        return nullptr;
    }
    // Made under a temporary name and renamed, so a tool never sees the name
    // missing or half made.
    const std::string temporary = link->linkPath_ + ".modsim" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(link->slavePath_.c_str(), temporary.c_str()) != 0) {
        *error = Reason("creating a link in " + ports);
        return nullptr;
    }
    if (rename(temporary.c_str(), link->linkPath_.c_str()) != 0) {
        *error = Reason("creating " + link->linkPath_);
        unlink(temporary.c_str());
        return nullptr;
    }
    link->linked_ = true;
    return link;
}

PtyLink::~PtyLink() {
    RemoveLink();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
}

std::size_t PtyLink::UnreadByTool() const {
    int count = 0;
    if (slave_ < 0 || ioctl(slave_, FIONREAD, &count) != 0 || count < 0) return 0;
    return static_cast<std::size_t>(count);
}

void PtyLink::RemoveLink() {
    if (!linked_) return;
    linked_ = false;
    char target[256];
    const ssize_t length = readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (length < 0) return;
    if (std::string(target, static_cast<std::size_t>(length)) == slavePath_) {
        unlink(linkPath_.c_str());
    }
}

}  // namespace modsim
