#include "dhcp/dhcpservercontrol.h"

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

unsigned DhcpWorkerThread(DhcpServerControl& control)
{
    const auto wait = control.m_StopWakeup.isValid() ? std::chrono::milliseconds(-1) : DhcpServerControl::kFallbackWait;
    while (control.DhcpServerRunning.load() != 0) {
        if (control.m_Server.WaitForRequest(control.m_StopWakeup, wait) && control.DhcpServerRunning.load() != 0)
            control.m_Server.Poll();
    }
    return 0;
}
