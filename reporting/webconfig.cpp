#include "reporting/webconfig.h"

#include <crypt.h>
#include <yaml-cpp/yaml.h>

#include <array>
#include <fstream>
#include <set>
#include <utility>
#include <vector>

namespace reporting {
namespace {

constexpr const char* kTlsKey = "tls_server_config";
constexpr const char* kUsersKey = "basic_auth_users";

// The prefixes of bcrypt hashes (htpasswd -B writes $2y$).
constexpr std::array<std::string_view, 3> kBcryptPrefixes{"$2a$", "$2b$", "$2y$"};

struct ConfigError {
    std::string text;
};

[[noreturn]] void fail(std::string text)
{
    throw ConfigError{std::move(text)};
}

// The keys of a mapping in their order; a key given twice is refused (the
// YAML reader would silently keep one of them).
std::vector<std::pair<std::string, YAML::Node>> entries(const YAML::Node& node, const std::string& where)
{
    std::vector<std::pair<std::string, YAML::Node>> list;
    if (node.IsNull())
        return list;
    if (!node.IsMap())
        fail(where + " is not a mapping of keys");
    std::set<std::string> seen;
    for (auto it = node.begin(); it != node.end(); ++it) {
        if (!it->first.IsScalar())
            fail(where + " has a key that is not text");
        std::string key = it->first.Scalar();
        if (!seen.insert(key).second)
            fail(std::string(where).append(": ").append(key).append(" is given twice"));
        list.emplace_back(std::move(key), it->second);
    }
    return list;
}

std::string text(const YAML::Node& node, const std::string& where)
{
    if (!node.IsScalar() || node.Scalar().empty())
        fail(where + " is not a text");
    return node.Scalar();
}

std::filesystem::path file(const YAML::Node& node, const std::string& where, const std::filesystem::path& folder)
{
    const std::filesystem::path name = text(node, where);
    return name.is_absolute() ? name : folder / name;
}

WebConfig::ClientAuth clientAuth(const std::string& name)
{
    static const std::map<std::string, WebConfig::ClientAuth> kNames{
        {"NoClientCert", WebConfig::ClientAuth::kNone},
        {"RequestClientCert", WebConfig::ClientAuth::kRequest},
        {"RequireAnyClientCert", WebConfig::ClientAuth::kRequireAny},
        {"VerifyClientCertIfGiven", WebConfig::ClientAuth::kVerifyIfGiven},
        {"RequireAndVerifyClientCert", WebConfig::ClientAuth::kRequireAndVerify},
    };
    const auto found = kNames.find(name);
    if (found == kNames.end())
        fail("client_auth_type: " + name
            + " is none of NoClientCert, RequestClientCert, RequireAnyClientCert, "
              "VerifyClientCertIfGiven, RequireAndVerifyClientCert");
    return found->second;
}

WebConfig::Tls tlsSection(const YAML::Node& node, const std::filesystem::path& folder)
{
    WebConfig::Tls tls;
    for (const auto& [key, value] : entries(node, kTlsKey)) {
        if (key == "cert_file")
            tls.certFile = file(value, key, folder);
        else if (key == "key_file")
            tls.keyFile = file(value, key, folder);
        else if (key == "client_ca_file")
            tls.clientCaFile = file(value, key, folder);
        else if (key == "client_auth_type")
            tls.clientAuth = clientAuth(text(value, key));
        else if (key == "min_version") {
            const std::string version = text(value, key);
            if (version != "TLS12" && version != "TLS13")
                fail("min_version: " + version + " is not TLS12 or TLS13 (older versions are not offered)");
            tls.tls13Only = version == "TLS13";
        } else
            fail(std::string(kTlsKey) + ": " + key + " is not supported by this agent");
    }
    if (tls.certFile.empty() || tls.keyFile.empty())
        fail(std::string(kTlsKey) + " needs both cert_file and key_file");
    const bool verifies = tls.clientAuth == WebConfig::ClientAuth::kVerifyIfGiven
        || tls.clientAuth == WebConfig::ClientAuth::kRequireAndVerify;
    if (verifies && tls.clientCaFile.empty())
        fail("client_auth_type verifies client certificates, so client_ca_file is needed");
    if (!verifies && !tls.clientCaFile.empty())
        fail("client_ca_file is given, but client_auth_type does not verify client certificates "
             "(VerifyClientCertIfGiven or RequireAndVerifyClientCert)");
    return tls;
}

bool isBcryptHash(const std::string& hash)
{
    bool prefixed = false;
    for (const std::string_view prefix : kBcryptPrefixes)
        prefixed = prefixed || hash.starts_with(prefix);
    return prefixed && crypt_checksalt(hash.c_str()) == CRYPT_SALT_OK;
}

std::map<std::string, std::string> usersSection(const YAML::Node& node)
{
    std::map<std::string, std::string> users;
    for (const auto& [name, value] : entries(node, kUsersKey)) {
        // A colon ends the name in an Authorization header: such a user could never log in.
        if (name.empty() || name.find(':') != std::string::npos)
            fail(std::string(kUsersKey) + ": '" + name + "' cannot be a user name (empty or with ':')");
        const std::string hash = text(value, std::string(kUsersKey) + ": " + name);
        if (!isBcryptHash(hash))
            fail(std::string(kUsersKey) + ": the password of " + name + " is not a bcrypt hash");
        users.emplace(name, hash);
    }
    return users;
}

} // namespace

std::optional<WebConfig> parseWebConfig(
    std::string_view content, const std::filesystem::path& folder, std::string& error)
{
    try {
        const YAML::Node root = YAML::Load(std::string(content));
        WebConfig config;
        for (const auto& [key, value] : entries(root, "the web configuration")) {
            if (key == kTlsKey) {
                if (!value.IsNull())
                    config.tls = tlsSection(value, folder);
            } else if (key == kUsersKey) {
                config.users = usersSection(value);
            } else {
                fail(key + " is not supported by this agent");
            }
        }
        return config;
    } catch (const ConfigError& failure) {
        error = failure.text;
    } catch (const YAML::Exception& failure) {
        error = "not YAML: " + failure.msg + " (line " + std::to_string(failure.mark.line + 1) + ")";
    }
    return std::nullopt;
}

std::optional<WebConfig> readWebConfig(const std::filesystem::path& file, std::string& error)
{
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        error = file.string() + ": cannot be read";
        return std::nullopt;
    }
    std::string content(kMaxWebConfigBytes + 1, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(in.gcount()));
    if (content.size() > kMaxWebConfigBytes) {
        error = file.string() + ": larger than " + std::to_string(kMaxWebConfigBytes) + " bytes";
        return std::nullopt;
    }
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    std::optional<WebConfig> config = parseWebConfig(content, folder, error);
    if (!config)
        error = file.string() + ": " + error;
    return config;
}

} // namespace reporting
