#include "reporting/metricsserver.h"

#include "platform/modulepath.h"
#include "reporting/metricspage.h"

#include <civetweb.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace reporting {
namespace {

constexpr const char* kMetricsPath = "/metrics";
constexpr const char* kAnyPath = "/";
constexpr const char* kTextFormat = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char* kRealm = "sorvinda";
constexpr const char* kFileDescriptors = "/proc/self/fd";
constexpr const char* kTls12OrLater = "4"; // civetweb's ssl_protocol_version for TLS 1.2 and later
constexpr std::size_t kErrorTextSize = 256;

// The OpenSSL that civetweb loads by name: the two private libraries of
// reporting/tls (see there why), found beside the program like its other
// libraries. Loaded once and never unloaded; an error says which failed.
std::string loadOpenSslForCivetweb()
{
    const std::optional<std::string> program = platform::modulePath();
    if (!program)
        return "the program's own path is unknown";
    const std::filesystem::path folder =
        std::filesystem::path(*program).parent_path().parent_path() / SORVINDA_PRIVATE_LIBRARY_DIR;
    for (const char* name : {"libsorvinda-civetweb-crypto.so", "libsorvinda-civetweb-ssl.so"})
        if (::dlopen((folder / name).c_str(), RTLD_NOW | RTLD_LOCAL) == nullptr)
            // NOLINTNEXTLINE(concurrency-mt-unsafe): called once (std::call_once), nothing else loads meanwhile
            return std::string("cannot load ") + ::dlerror();
    return {};
}

// civetweb is set up once per process and stays so: taking it down again
// would also take down OpenSSL's state, which the MQTT reporter shares.
void initialiseCivetweb(bool tls)
{
    static std::once_flag plain, secure;
    static std::string tlsError;
    std::call_once(plain, [] { mg_init_library(0); });
    if (!tls)
        return;
    std::call_once(secure, [] {
        tlsError = loadOpenSslForCivetweb();
        if (tlsError.empty() && (mg_init_library(MG_FEATURES_TLS) & MG_FEATURES_TLS) == 0)
            tlsError = "civetweb could not set TLS up";
    });
    if (!tlsError.empty())
        throw std::runtime_error("metrics over TLS: " + tlsError);
}

// civetweb takes numeric addresses only; a name (localhost) is looked up.
// The address without brackets.
std::string numericAddress(const std::string& host)
{
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        throw std::runtime_error("cannot listen on " + host + " for metrics: no such address");
    std::array<char, NI_MAXHOST> text{};
    const int failed =
        ::getnameinfo(found->ai_addr, found->ai_addrlen, text.data(), text.size(), nullptr, 0, NI_NUMERICHOST);
    ::freeaddrinfo(found);
    if (failed != 0)
        throw std::runtime_error("cannot listen on " + host + " for metrics: no such address");
    return text.data();
}

// Why ADDR:PORT cannot be bound, in the system's words (civetweb only says
// that it failed); empty when it can.
std::string bindFailure(const std::string& host, std::uint16_t port)
{
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr)
        return {};
    std::string reason;
    const int probe = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (probe >= 0 && ::bind(probe, found->ai_addr, found->ai_addrlen) != 0)
        reason = std::generic_category().message(errno);
    if (probe >= 0)
        ::close(probe);
    ::freeaddrinfo(found);
    return reason;
}

std::uint16_t localPort(int descriptor)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return 0;
}

bool isStreamSocket(int descriptor)
{
    struct stat status { };
    int type = 0;
    socklen_t length = sizeof type;
    return ::fstat(descriptor, &status) == 0 && S_ISSOCK(status.st_mode)
        && ::getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

std::string openSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "unknown error";
    std::array<char, kErrorTextSize> text{};
    ERR_error_string_n(code, text.data(), text.size());
    return text.data();
}

int acceptAnyCertificate(int /*preverified*/, X509_STORE_CTX* /*store*/)
{
    return 1;
}

void setClientAuth(SSL_CTX* context, WebConfig::ClientAuth auth)
{
    switch (auth) {
    case WebConfig::ClientAuth::kNone:
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
        break;
    case WebConfig::ClientAuth::kRequest:
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, acceptAnyCertificate);
        break;
    case WebConfig::ClientAuth::kRequireAny:
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, acceptAnyCertificate);
        break;
    case WebConfig::ClientAuth::kVerifyIfGiven:
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        break;
    case WebConfig::ClientAuth::kRequireAndVerify:
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        break;
    }
}

void respond(mg_connection* connection, const char* status, const std::string& headers, const std::string& body)
{
    const std::string head = std::string("HTTP/1.1 ") + status + "\r\n" + headers
        + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    mg_write(connection, head.data(), head.size());
    mg_write(connection, body.data(), body.size());
}

} // namespace

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);

// ThreadSanitizer takes every descriptor number for a variable, so looking
// at all of them races, in its eyes, with each close and open of another
// thread. The scan only ever acts on duplicates it made itself (see
// cutConnections()), which the kernel hands out atomically; its own
// descriptor calls are left out of the analysis while it runs.
class DescriptorScan {
public:
    DescriptorScan()
    {
        AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    }
    ~DescriptorScan()
    {
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
        AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
    }
    DescriptorScan(const DescriptorScan&) = delete;
    DescriptorScan& operator=(const DescriptorScan&) = delete;
};

// civetweb is not built with ThreadSanitizer, so the order it keeps is
// invisible to it: the listening socket, which cutConnections() looks at,
// is closed by civetweb's own thread only after mg_stop() has set its stop
// flag, that is after the look. The descriptor calls civetweb itself makes
// are left out of the analysis, and so are those of OpenSSL, which reads
// and writes civetweb's connections; every call of ours is still checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libcivetweb.so.1\n"
           "called_from_lib:libssl.so.3\n"
           "called_from_lib:libcrypto.so.3\n";
}
#else
// Nothing to tell a build without ThreadSanitizer.
struct DescriptorScan {
    DescriptorScan() { } // NOLINT(modernize-use-equals-default): a user-provided constructor marks the object used
};
#endif

MetricsServer::MetricsServer(
    const std::string& site, const std::string& address, std::uint16_t port, const WebConfig& webConfig)
    : port_(port)
    , webConfig_(webConfig)
    , auth_(webConfig.users)
    , page_(std::make_shared<const std::string>(metricsPage(MetricsSnapshot{site, {}, 0, 0, 0, false, {}})))
{
    const bool tls = webConfig_.tls.has_value();
    initialiseCivetweb(tls);
    const std::string numeric = numericAddress(address);
    const bool v6 = numeric.find(':') != std::string::npos;
    const std::string listen = (v6 ? "[" + numeric + "]" : numeric) + ":" + std::to_string(port) + (tls ? "s" : "");
    const std::string workers = std::to_string(kWorkers), deadline = std::to_string(kRequestDeadline.count()),
                      headerSize = std::to_string(kMaxRequestHeader);
    std::vector<const char*> options{"listening_ports", listen.c_str(), "num_threads", workers.c_str(),
        "request_timeout_ms", deadline.c_str(), "enable_keep_alive", "no", "max_request_size", headerSize.c_str()};
    if (tls)
        options.insert(options.end(), {"ssl_protocol_version", kTls12OrLater, "ssl_default_verify_paths", "no"});
    options.push_back(nullptr);

    mg_callbacks callbacks{};
    callbacks.log_message = [](const mg_connection*, const char*) { return 1; }; // clients' faults are no news
    callbacks.init_ssl = initTls;
    callbacks.connection_close = connectionClosing;
    mg_init_data init{&callbacks, this, options.data()};
    std::array<char, kErrorTextSize> errorText{};
    unsigned errorCode = 0;
    mg_error_data error{&errorCode, errorText.data(), errorText.size()};
    context_ = mg_start2(&init, &error);
    if (context_ == nullptr) {
        std::string why = !tlsError_.empty() ? tlsError_ : bindFailure(numeric, port);
        if (why.empty())
            why = errorText.data();
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + " for metrics"
            + (why.empty() ? std::string() : ": " + why));
    }
    mg_set_request_handler(context_, kAnyPath, handle, this);
}

MetricsServer::~MetricsServer()
{
    cutConnections();
    mg_stop(context_);
}

void MetricsServer::cutConnections()
{
    // civetweb waits up to two seconds between looks at its stop flag; a
    // socket shut down here wakes it at once, the listening socket and each
    // connection in progress alike. Only TCP sockets on the metrics port
    // are touched: the listening one and those it accepted. Each number is
    // looked at through a duplicate of its own, so what is checked is what
    // is shut down, even if another thread closes the number and opens
    // something else under it meanwhile (the kernel orders the two).
    const std::lock_guard lock(cuttingMutex_);
    const DescriptorScan scan; // the other threads' descriptor calls are ordered by the kernel, not by us
    DIR* folder = ::opendir(kFileDescriptors);
    if (folder == nullptr)
        return;
    const int own = ::dirfd(folder);
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this function's own
    while (const dirent* entry = ::readdir(folder)) {
        int number = -1;
        const char* end = entry->d_name + std::strlen(entry->d_name);
        if (std::from_chars(entry->d_name, end, number).ptr != end || number == own)
            continue;
        const int copy = ::fcntl(number, F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            continue;
        if (isStreamSocket(copy) && localPort(copy) == port_)
            ::shutdown(copy, SHUT_RDWR);
        ::close(copy);
    }
    ::closedir(folder);
}

void MetricsServer::connectionClosing(const mg_connection* connection)
{
    auto* server = static_cast<MetricsServer*>(mg_get_user_data(mg_get_context(connection)));
    const std::lock_guard lock(server->cuttingMutex_);
}

int MetricsServer::initTls(void* sslContext, void* user)
{
    auto* server = static_cast<MetricsServer*>(user);
    auto* context = static_cast<SSL_CTX*>(sslContext);
    const WebConfig::Tls& tls = *server->webConfig_.tls;
    const auto failed = [&](const std::string& what) {
        server->tlsError_ = what + ": " + openSslError();
        return -1;
    };
    SSL_CTX_set_min_proto_version(context, tls.tls13Only ? TLS1_3_VERSION : TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(context, tls.certFile.c_str()) != 1)
        return failed("cert_file " + tls.certFile.string());
    if (SSL_CTX_use_PrivateKey_file(context, tls.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        return failed("key_file " + tls.keyFile.string());
    if (SSL_CTX_check_private_key(context) != 1)
        return failed("key_file " + tls.keyFile.string() + " does not belong to cert_file");
    if (!tls.clientCaFile.empty() && SSL_CTX_load_verify_locations(context, tls.clientCaFile.c_str(), nullptr) != 1)
        return failed("client_ca_file " + tls.clientCaFile.string());
    setClientAuth(context, tls.clientAuth);
    return 1; // civetweb loads no certificate of its own
}

int MetricsServer::handle(mg_connection* connection, void* server)
{
    return static_cast<MetricsServer*>(server)->serve(connection);
}

int MetricsServer::serve(mg_connection* connection)
{
    const mg_request_info* request = mg_get_request_info(connection);
    // The login comes first, so nothing - not even which paths exist - is told to a stranger.
    const char* authorization = mg_get_header(connection, "Authorization");
    if (!auth_.allows(authorization != nullptr ? std::optional<std::string_view>(authorization) : std::nullopt)) {
        respond(connection, "401 Unauthorized", std::string("WWW-Authenticate: Basic realm=\"") + kRealm + "\"\r\n",
            "Unauthorized\n");
        return 401;
    }
    if (request->local_uri == nullptr || std::strcmp(request->local_uri, kMetricsPath) != 0) {
        respond(connection, "404 Not Found", "", "Not Found\n");
        return 404;
    }
    const bool head = std::strcmp(request->request_method, "HEAD") == 0;
    if (!head && std::strcmp(request->request_method, "GET") != 0) {
        respond(connection, "405 Method Not Allowed", "Allow: GET, HEAD\r\n", "");
        return 405;
    }
    const std::shared_ptr<const std::string> body = page();
    const std::string headers = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + kTextFormat
        + "\r\nContent-Length: " + std::to_string(body->size()) + "\r\nConnection: close\r\n\r\n";
    mg_write(connection, headers.data(), headers.size());
    if (!head)
        mg_write(connection, body->data(), body->size());
    return 200;
}

void MetricsServer::scanned(const commissioning::ScanReport& report)
{
    auto page = std::make_shared<const std::string>(metricsPage(metricsSnapshot(report)));
    const std::lock_guard lock(pageMutex_);
    page_ = std::move(page);
}

void MetricsServer::reported(const commissioning::WatchEvent& /*event*/)
{
}

std::shared_ptr<const std::string> MetricsServer::page() const
{
    const std::lock_guard lock(pageMutex_);
    return page_;
}

} // namespace reporting
