#ifndef REPORTING_WEBCONFIG_H
#define REPORTING_WEBCONFIG_H

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace reporting {

// How the metrics endpoint is protected: the web configuration file that
// Prometheus and its exporters share (--web.config.file), so one file and
// one `promtool check web-config` serve a plant's whole monitoring:
//
//   tls_server_config:
//     cert_file: server.crt          # relative names: beside this file
//     key_file: server.key
//     client_ca_file: clients-ca.crt # optional, with client_auth_type
//     client_auth_type: RequireAndVerifyClientCert
//     min_version: TLS12             # TLS12 (the floor here) or TLS13
//   basic_auth_users:
//     prometheus: $2y$10$...         # bcrypt hashes (htpasswd -nBC 10 NAME)
//
// Keys this agent cannot honour (cipher lists, client SAN filters, HTTP/2,
// extra headers) are refused rather than silently ignored: a plant that
// writes them expects them to hold.
struct WebConfig {
    enum class ClientAuth {
        kNone,             // NoClientCert
        kRequest,          // RequestClientCert: asked for, not checked
        kRequireAny,       // RequireAnyClientCert: must be sent, not checked
        kVerifyIfGiven,    // VerifyClientCertIfGiven
        kRequireAndVerify, // RequireAndVerifyClientCert
    };
    struct Tls {
        std::filesystem::path certFile, keyFile, clientCaFile;
        ClientAuth clientAuth = ClientAuth::kNone;
        bool tls13Only = false; // min_version: TLS13
    };
    std::optional<Tls> tls;
    std::map<std::string, std::string> users; // name -> bcrypt hash; empty: no login asked
};

// A web configuration file is small; a larger one is refused unread.
inline constexpr std::size_t kMaxWebConfigBytes = 64 * 1024;

// The configuration in text; relative file names are taken from folder.
// Nothing when it is not one, and error then says what is wrong.
std::optional<WebConfig> parseWebConfig(
    std::string_view content, const std::filesystem::path& folder, std::string& error);

// Reads and parses file (relative names beside it); error names the file.
std::optional<WebConfig> readWebConfig(const std::filesystem::path& file, std::string& error);

} // namespace reporting

#endif
