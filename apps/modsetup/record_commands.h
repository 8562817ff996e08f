#pragma once

// The commands over the production record: `db init`, `report`, `export`.
// They take their own options and touch no port.

#include <ostream>
#include <string>
#include <vector>

namespace modsetup {

// Whether the command line names one of them (db, report, export).
bool IsRecordCommand(const std::vector<std::string>& args);

// Runs it; the exit status (0 done, 2 usage error or a record that cannot be
// read or made). Output goes to out, messages to err.
int RunRecordCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

extern const char kRecordUsageText[];

}  // namespace modsetup
