#include "dhcp/dhcpservercontrol.h"

#include <algorithm>

DhcpServerControl::~DhcpServerControl()
{
    Stop();
}

DhcpServerControl::Change DhcpServerControl::Apply(bool enable)
{
    if (enable && !IsRunning())
        return Start() ? Change::Started : Change::StartFailed;
    if (!enable && IsRunning()) {
        Stop();
        return Change::Stopped;
    }
    return Change::None;
}

bool DhcpServerControl::Start()
{
    if (IsRunning())
        return true;
    const bool opened = m_Server.Init();
    m_StopWakeup.clear();
    DhcpServerRunning.store(1);
    m_Worker = std::thread([this] { DhcpWorkerThread(*this); });
    return opened;
}

void DhcpServerControl::Stop()
{
    DhcpServerRunning.store(0);
    m_StopWakeup.wake();
    if (m_Worker.joinable())
        m_Worker.join();
    m_Server.Close();
}

namespace {

// An ACK that went out gives its address to the MAC it names.
void ReportLease(const CDhcpMessage& reply, const DhcpServerControl::LeaseSink& sink)
{
    if (!sink || reply.MsgTypeValid == 0 || reply.MsgType != CDhcpMessage::kDhcpAck)
        return;
    DhcpServerControl::Lease lease;
    std::copy(reply.chaddr, reply.chaddr + lease.mac.size(), lease.mac.begin());
    for (const std::uint8_t byte : reply.yiaddr)
        lease.address = (lease.address << 8) | byte;
    sink(lease);
}

} // namespace

unsigned DhcpWorkerThread(DhcpServerControl& control)
{
    const auto wait = control.m_StopWakeup.isValid() ? std::chrono::milliseconds(-1) : DhcpServerControl::kFallbackWait;
    while (control.DhcpServerRunning.load() != 0) {
        if (control.m_Server.WaitForRequest(control.m_StopWakeup, wait) && control.DhcpServerRunning.load() != 0
            && control.m_Server.Poll() == 1)
            ReportLease(control.m_Server.Reply(), control.m_LeaseSink);
    }
    return 0;
}
