#pragma once

#include <string>

namespace record {

// This installation's station id: a UUID made on first use and kept in the
// data folder as station_id. Every row carries it beside the station's name,
// so two PCs that were given the same name are told apart and refused.
// Empty with the reason in *error when it can neither be read nor made.
std::string StationId(const std::string& dataFolder, std::string* error);

}  // namespace record
