#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "file_places.h"

namespace runtime {

// Where this build keeps a program's files: beside the program, or per user
// when built with SETUP_PER_USER_FILES (the packages).
store::FilePlaces ProgramPlaces(const std::string& programFolder, const std::string& programName);

// Runs handler in the event loop when SIGINT, SIGTERM or SIGHUP arrives, so a program
// ends the way its own stop does. Keep the returned object for as long as
// the handler may run. SIGPIPE and SIGUSR1 are ignored from then on. Windows has no such signals (closing is a message Qt
// handles): nothing is installed there.
std::unique_ptr<QObject> OnTerminationSignals(std::function<void()> handler);

}  // namespace runtime
