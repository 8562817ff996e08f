#include "program_runtime.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>
#endif

namespace runtime {

store::FilePlaces ProgramPlaces(const std::string& programFolder, const std::string& programName) {
#ifdef SETUP_PER_USER_FILES
    return store::PlacesFor(store::FilePlacement::PerUser, programFolder, programName);
#else
    return store::PlacesFor(store::FilePlacement::BesideProgram, programFolder, programName);
#endif
}

#ifndef _WIN32
namespace {

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

}  // namespace
#endif

std::unique_ptr<QObject> OnTerminationSignals(std::function<void()> handler) {
#ifdef _WIN32
    (void)handler;
    return nullptr;
#else
    if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [handler = std::move(handler)] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        handler();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A closed terminal ends the program as a stop does; a closed pipe
    // (modsetup ... | head -1) must not kill it between a module and its row,
    // and a stray SIGUSR1 must not either.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGUSR1, SIG_IGN);
    return notifier;
#endif
}

}  // namespace runtime
