#ifndef DHCP_DHCPSERVERCONTROL_H
#define DHCP_DHCPSERVERCONTROL_H

#include "dhcp/dhcpserver.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

// Switches the recovery server on and off: owns the server, the running
// flag and the one worker thread. The main window holds one of these as a
// member; the terminal front end holds one too. All members except the
// worker's loop are called from one thread (the GUI thread).
//
// Stopping clears the flag, wakes and joins the worker, then closes the socket, so the
// worker never touches a closed socket and never outlives this object; the
// destructor stops a running server.
class DhcpServerControl {
public:
    // The worker waits on the socket and on a wake-up that Stop signals;
    // without a wake-up descriptor it looks at the flag this often.
    static constexpr std::chrono::milliseconds kFallbackWait{100};

    enum class Change {
        None,        // the wanted state was already the current one
        Started,     // the socket is open and the worker runs
        StartFailed, // Init failed: marked running, the worker idles without socket
        Stopped,
    };

    // An address the server gave: the MAC it went to and the address an ACK
    // confirmed (a<<24 | b<<16 | c<<8 | d).
    struct Lease {
        std::array<std::uint8_t, 6> mac{};
        std::uint32_t address = 0;
    };
    // Called on the worker thread after each ACK that was sent; it must not
    // block (the window posts it to its own thread).
    using LeaseSink = std::function<void(const Lease&)>;

    DhcpServerControl() = default;
    ~DhcpServerControl();
    DhcpServerControl(const DhcpServerControl&) = delete;
    DhcpServerControl& operator=(const DhcpServerControl&) = delete;

    bool IsRunning() const { return DhcpServerRunning.load() != 0; }

    // Applies the check box of the Advanced Settings dialog: starts the
    // server when `enable` and it is stopped, stops it when not `enable` and
    // it runs, otherwise does nothing. The caller shows "DHCP server init
    // failed" on StartFailed.
    Change Apply(bool enable);

    // Opens a fresh socket and starts the worker. Even when Init fails the
    // server is marked running and the worker idles, so that the dialog
    // shows the box checked and unchecking it stops as usual. Returns Init's
    // result; does nothing and returns true when already running.
    bool Start();
    void Stop();

    // For setting the trace sink before Start.
    CDhcpServer& Server() { return m_Server; }
    // Set while the server is stopped.
    void SetLeaseSink(LeaseSink sink) { m_LeaseSink = std::move(sink); }

private:
    friend unsigned DhcpWorkerThread(DhcpServerControl& control);

    CDhcpServer m_Server;
    // 1 while marked running. Written by the controlling thread, read by the
    // worker before every poll.
    std::atomic<std::uint8_t> DhcpServerRunning{0};
    platform::Wakeup m_StopWakeup;
    LeaseSink m_LeaseSink;
    std::thread m_Worker;
};

// The worker's loop: while the flag is set, waits until a request arrives
// (or Stop wakes it) and polls the server.
// Returns 0 when the flag has been cleared.
unsigned DhcpWorkerThread(DhcpServerControl& control);

#endif
