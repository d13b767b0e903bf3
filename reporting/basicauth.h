#ifndef REPORTING_BASICAUTH_H
#define REPORTING_BASICAUTH_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace reporting {

// A user name and password from an "Authorization: Basic ..." header.
struct BasicCredentials {
    std::string user, password;
};

// The name and password of the header's value; nothing when it is not the
// Basic scheme with base64 of "NAME:PASSWORD".
std::optional<BasicCredentials> parseBasicAuthorization(std::string_view value);

// Checks HTTP Basic logins against bcrypt hashes (libcrypt's crypt_rn), as
// the exporters' web configuration asks. A bcrypt check costs tens of
// milliseconds by design; Prometheus sends the same login with every
// scrape, so a login that passed is remembered (as a SHA-256 of name,
// password and hash, never the password itself) and later checks of it
// cost a hash. An unknown name is checked against a hash of its own so
// that its answer takes as long as a wrong password's.
class BasicAuth {
public:
    static constexpr std::size_t kRememberedLogins = 16;

    explicit BasicAuth(std::map<std::string, std::string> users);

    bool required() const { return !users_.empty(); }
    // Thread-safe. authorization: the header's value, or nothing.
    bool allows(std::optional<std::string_view> authorization);

private:
    using Digest = std::array<std::uint8_t, 32>;
    static Digest digest(const BasicCredentials& login, const std::string& hash);

    const std::map<std::string, std::string> users_;
    const std::string unknownUserHash_;
    std::mutex mutex_;
    std::set<Digest> remembered_;
};

} // namespace reporting

#endif
