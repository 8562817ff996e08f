#pragma once

#include <functional>
#include <string>
#include <vector>

#include "db_uri.h"

namespace record {

// Runs `select` on a PostgreSQL server as COPY ... TO STDOUT and hands over
// each row's fields, unescaped (NULL as empty). Each "?" of `select` takes
// the next of `args` as a quoted literal. The rows come in blocks, without
// a result object per row: a report over a million attempts spends its time
// counting, not on the driver. False with the server's reason in *error.
bool CopyRows(const DbTarget& target, const std::string& select,
              const std::vector<std::string>& args,
              const std::function<bool(const std::vector<std::string>&)>& each,
              std::string* error);

}  // namespace record
