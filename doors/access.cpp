#include "access.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <cstring>

#include "file_system.h"
#include "text_file.h"

namespace doors {

std::optional<Address> ParseAddress(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
    }
    const std::string s(text);
    Address a;
    if (inet_pton(AF_INET, s.c_str(), a.bytes.data()) == 1) return a;
    if (inet_pton(AF_INET6, s.c_str(), a.bytes.data()) != 1) return std::nullopt;
    static const std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(a.bytes.data(), kMapped, 12) == 0) {
        Address v4;
        std::memcpy(v4.bytes.data(), a.bytes.data() + 12, 4);
        return v4;
    }
    a.v6 = true;
    return a;
}

bool IsLoopback(const Address& a) {
    if (!a.v6) return a.bytes[0] == 127;
    for (int i = 0; i < 15; ++i) {
        if (a.bytes[static_cast<std::size_t>(i)] != 0) return false;
    }
    return a.bytes[15] == 1;
}

bool Cidr::Contains(const Address& a) const {
    if (a.v6 != base.v6) return false;
    int left = bits;
    for (std::size_t i = 0; left > 0; ++i, left -= 8) {
        const int take = left >= 8 ? 8 : left;
        const auto mask = static_cast<std::uint8_t>(0xff << (8 - take));
        if ((a.bytes[i] & mask) != (base.bytes[i] & mask)) return false;
    }
    return true;
}

std::optional<Cidr> ParseCidr(std::string_view text) {
    const std::size_t slash = text.find('/');
    const std::optional<Address> base = ParseAddress(text.substr(0, slash));
    if (!base) return std::nullopt;
    Cidr c;
    c.base = *base;
    const int most = base->v6 ? 128 : 32;
    c.bits = most;
    if (slash != std::string_view::npos) {
        const std::string_view bits = text.substr(slash + 1);
        if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != bits.npos) {
            return std::nullopt;
        }
        c.bits = std::stoi(std::string(bits));
        if (c.bits > most) return std::nullopt;
    }
    return c;
}

bool SameSecret(std::string_view a, std::string_view b) {
    // Every byte of the longer text is looked at whatever the other holds.
    const std::size_t n = a.size() > b.size() ? a.size() : b.size();
    unsigned diff = a.size() == b.size() ? 0u : 1u;
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        diff |= static_cast<unsigned>(x ^ y);
    }
    return diff == 0;
}

bool BearerMatches(std::string_view authorization, std::string_view token) {
    constexpr std::string_view kScheme = "Bearer ";
    if (token.empty() || authorization.size() < kScheme.size()) return false;
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        const char c = authorization[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        const char want = kScheme[i] >= 'A' && kScheme[i] <= 'Z'
                              ? static_cast<char>(kScheme[i] + 32)
                              : kScheme[i];
        if (lower != want) return false;
    }
    std::string_view given = authorization.substr(kScheme.size());
    while (!given.empty() && (given.front() == ' ' || given.front() == '\t'))
        given.remove_prefix(1);
    while (!given.empty() && (given.back() == ' ' || given.back() == '\t')) given.remove_suffix(1);
    return SameSecret(given, token);
}

bool ReadTokenFile(const std::string& path, std::string* token, std::string* error) {
    return ReadSecretFile(path, "token", 16, token, error);
}

bool ReadSecretFile(const std::string& path, const std::string& what, std::size_t minLength,
                    std::string* secret, std::string* error) {
    namespace fsys = store::fsys;
    if (fsys::KindOf(path) != fsys::Kind::File) {
        *error = "the " + what + " file " + path + " does not exist or is not a file";
        return false;
    }
    const std::optional<unsigned> mode = fsys::ModeOf(path);
    if (mode && (*mode & 077u) != 0) {
        *error = "the " + what + " file " + path +
                 " may be read by others: make it the owner's only (chmod 600 " + path + ")";
        return false;
    }
    const std::optional<std::string> content = store::ReadTextFile(path, 4096);
    if (!content) {
        *error = "cannot read the " + what + " file " + path;
        return false;
    }
    std::string line = content->substr(0, content->find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    std::size_t lead = 0;
    while (lead < line.size() && (line[lead] == ' ' || line[lead] == '\t')) ++lead;
    line.erase(0, lead);
    if (line.size() < minLength || line.empty()) {
        *error = "the " + what + " in " + path + " is shorter than " + std::to_string(minLength) +
                 " characters";
        return false;
    }
    *secret = line;
    return true;
}

}  // namespace doors
