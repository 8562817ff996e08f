#pragma once

// Who may come in: the loopback rule for binds, the Modbus allow list, the
// HTTP token. A door that faces the line's network is closed to everyone
// the operator has not named.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace doors {

struct Address {
    bool v6 = false;
    std::array<std::uint8_t, 16> bytes{};  // IPv4: the first four
};

// An IP address as text ("10.0.0.7", "::1", "[::1]"); an IPv4-mapped IPv6
// address ("::ffff:10.0.0.7", what a dual-stack socket reports) counts as
// the IPv4 address.
std::optional<Address> ParseAddress(std::string_view text);
bool IsLoopback(const Address& address);

struct Cidr {
    Address base;
    int bits = 0;
    bool Contains(const Address& address) const;
};

// "10.0.0.0/24", "fd00::/8", or one address ("10.0.0.7" = /32).
std::optional<Cidr> ParseCidr(std::string_view text);

// Compares in a time that does not depend on where the texts differ.
bool SameSecret(std::string_view a, std::string_view b);
// The value of an Authorization header against the token.
bool BearerMatches(std::string_view authorization, std::string_view token);

// The token is the file's first line. The file must be a regular file that
// only its owner may read or write, or nobody could trust it to be secret.
// Errors name the file, never its content.
bool ReadTokenFile(const std::string& path, std::string* token, std::string* error);
// The same for another secret (what: "password"), of at least minLength.
bool ReadSecretFile(const std::string& path, const std::string& what, std::size_t minLength,
                    std::string* secret, std::string* error);

}  // namespace doors
