#ifndef TESTS_COMMISSIONING_DHCPSERVERAMONGMODULES_H
#define TESTS_COMMISSIONING_DHCPSERVERAMONGMODULES_H

// Another DHCP server on the segment, for the tests of the check that finds
// one (commissioning's probe, sorvinda doctor).

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// What command prints on its standard output.
inline std::string Output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            text += buffer;
        ::pclose(pipe);
    }
    return text;
}

// busybox udhcpd in the modules namespace, stopped (by its pid) at the end.
// Its ARP check of an address before offering it is cut to 100 ms from 2 s,
// which would otherwise use up the probe's whole wait.
class DhcpServerAmongModules {
public:
    DhcpServerAmongModules()
    {
        std::ofstream(config_) << "interface " << std::getenv("SORVINDA_MODULES_IF")
                               << "\nstart 10.213.0.100\nend 10.213.0.110\nlease_file /tmp/commissioning-udhcpd-"
                               << ::getpid() << ".leases\npidfile /dev/null\n";
        const std::string ns = std::getenv("SORVINDA_NETNS_MODULES");
        const char* argv[] = {
            "ip", "netns", "exec", ns.c_str(), "busybox", "udhcpd", "-f", "-a", "100", config_.c_str(), nullptr};
        if (::posix_spawnp(&pid_, "ip", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
            pid_ = -1;
    }
    ~DhcpServerAmongModules()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::remove(config_.c_str());
    }
    bool Listening() const
    {
        return pid_ > 0
            && Output(std::string("ip netns exec ") + std::getenv("SORVINDA_NETNS_MODULES") + " ss -lun").find(":67 ")
            != std::string::npos;
    }

private:
    std::string config_ = "/tmp/commissioning-udhcpd-" + std::to_string(::getpid()) + ".conf";
    pid_t pid_ = -1;
};

} // namespace testsupport

#endif
