#include "reporting/basicauth.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

namespace reporting {
namespace {

constexpr std::string_view kBasicScheme = "basic";
constexpr const char* kBcryptPrefix = "$2y$";
constexpr unsigned long kBcryptCost = 10; // the cost htpasswd -B uses by default
constexpr std::size_t kBase64Block = 4;

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

bool isBase64(std::string_view text)
{
    if (text.empty() || text.size() % kBase64Block != 0)
        return false;
    const std::size_t padding = text.size() - text.find_last_not_of('=') - 1;
    if (padding > 2)
        return false;
    return std::all_of(text.begin(), text.end() - static_cast<std::ptrdiff_t>(padding),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/'; });
}

std::optional<std::string> decodeBase64(std::string_view text)
{
    if (!isBase64(text))
        return std::nullopt;
    std::vector<unsigned char> bytes(text.size() / kBase64Block * 3 + 1);
    const int length = EVP_DecodeBlock(
        bytes.data(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (length < 0)
        return std::nullopt;
    // EVP_DecodeBlock counts the bytes the padding stands for.
    const std::size_t padding = text.size() - text.find_last_not_of('=') - 1;
    return std::string(
        bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length) - static_cast<std::ptrdiff_t>(padding));
}

// The crypt of password with hash as its setting, compared in constant time.
bool matches(const std::string& password, const std::string& hash)
{
    const auto data = std::make_unique<crypt_data>();
    const char* result = crypt_rn(password.c_str(), hash.c_str(), data.get(), sizeof(crypt_data));
    return result != nullptr && hash.size() == std::char_traits<char>::length(result)
        && CRYPTO_memcmp(result, hash.data(), hash.size()) == 0;
}

std::string hashOfNothing()
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE] = {};
    if (crypt_gensalt_rn(kBcryptPrefix, kBcryptCost, nullptr, 0, setting, sizeof setting) == nullptr)
        return {};
    const auto data = std::make_unique<crypt_data>();
    const char* result = crypt_rn("", setting, data.get(), sizeof(crypt_data));
    return result != nullptr ? std::string(result) : std::string();
}

} // namespace

std::optional<BasicCredentials> parseBasicAuthorization(std::string_view value)
{
    const std::size_t space = value.find(' ');
    if (space == std::string_view::npos || !equalsIgnoringCase(value.substr(0, space), kBasicScheme))
        return std::nullopt;
    std::string_view encoded = value.substr(space + 1);
    while (encoded.starts_with(' '))
        encoded.remove_prefix(1);
    while (encoded.ends_with(' '))
        encoded.remove_suffix(1);
    const std::optional<std::string> decoded = decodeBase64(encoded);
    if (!decoded)
        return std::nullopt;
    const std::size_t colon = decoded->find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    return BasicCredentials{decoded->substr(0, colon), decoded->substr(colon + 1)};
}

BasicAuth::BasicAuth(std::map<std::string, std::string> users)
    : users_(std::move(users))
    , unknownUserHash_(users_.empty() ? std::string() : hashOfNothing())
{
}

BasicAuth::Digest BasicAuth::digest(const BasicCredentials& login, const std::string& hash)
{
    // Zero bytes between the parts: no name, password and hash run into another triple.
    const std::string material = login.user + '\0' + login.password + '\0' + hash;
    Digest value{};
    unsigned int length = 0;
    EVP_Digest(material.data(), material.size(), value.data(), &length, EVP_sha256(), nullptr);
    OPENSSL_cleanse(const_cast<char*>(material.data()), material.size());
    return value;
}

bool BasicAuth::allows(std::optional<std::string_view> authorization)
{
    if (users_.empty())
        return true;
    if (!authorization)
        return false;
    std::optional<BasicCredentials> login = parseBasicAuthorization(*authorization);
    if (!login)
        return false;
    const auto user = users_.find(login->user);
    const std::string& hash = user != users_.end() ? user->second : unknownUserHash_;
    const Digest key = digest(*login, hash);
    {
        const std::lock_guard lock(mutex_);
        if (user != users_.end() && remembered_.count(key) != 0)
            return true;
    }
    const bool valid = matches(login->password, hash) && user != users_.end();
    OPENSSL_cleanse(login->password.data(), login->password.size());
    if (valid) {
        const std::lock_guard lock(mutex_);
        if (remembered_.size() >= kRememberedLogins)
            remembered_.clear();
        remembered_.insert(key);
    }
    return valid;
}

} // namespace reporting
