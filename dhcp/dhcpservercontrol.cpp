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
    DhcpServerRunning.store(1);
    m_Worker = std::thread([this] { DhcpWorkerThread(*this); });
    return opened;
}

void DhcpServerControl::Stop()
{
    DhcpServerRunning.store(0);
    if (m_Worker.joinable())
        m_Worker.join();
    m_Server.Close();
}

unsigned DhcpWorkerThread(DhcpServerControl& control)
{
    while (control.DhcpServerRunning.load() != 0) {
        control.m_Server.Poll();
        std::this_thread::sleep_for(DhcpServerControl::kPollPause);
    }
    return 0;
}
