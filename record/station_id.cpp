#include "station_id.h"

#include <cctype>

#include "attempt_id.h"
#include "file_system.h"
#include "text_file.h"

namespace record {

namespace {

bool LooksLikeUuid(const std::string& text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace

std::string StationId(const std::string& dataFolder, std::string* error) {
    const std::string path = dataFolder + "/station_id";
    if (const auto text = store::ReadTextFile(path)) {
        std::string id = *text;
        while (!id.empty() && (id.back() == '\n' || id.back() == '\r' || id.back() == ' '))
            id.pop_back();
        if (LooksLikeUuid(id)) return id;
        // A damaged file is not silently replaced: the rows already made
        // carry the old id, and a new one would look like another PC.
        *error = path + " does not hold a station id; remove it to make a new one";
        return {};
    }
    if (store::fsys::EntryExists(path)) {
        *error = "cannot read the station id in " + path;
        return {};
    }
    store::fsys::MakeFolders(dataFolder);
    const std::string id = NewAttemptId();
    std::string why;
    if (!store::ReplaceFileContent(path, id + "\n", &why)) {
        *error = "cannot keep the station id in " + path + (why.empty() ? "" : ": " + why);
        return {};
    }
    return id;
}

}  // namespace record
