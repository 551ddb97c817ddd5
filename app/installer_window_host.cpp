#include "app/installer_window_host.h"

#include "app/close_on_signal.h"
#include "shell/hand_over_slots.h"

int CInstallerWindowHost::Exec() {
    CCloseOnSignal closer([this] { m_dlg.reject(); });
    return m_dlg.exec();
}

bool CInstallerWindowHost::OnWindowMessage(int nWParam, int /*nLParam*/) {
    // Recognised by wParam alone; taken only while no transfer runs.
    return nWParam == handover::kMessageParam && Dialog().OnHandOverMessage();
}

void CInstallerWindowHost::Raise() {
    m_dlg.setWindowState(m_dlg.windowState() & ~Qt::WindowMinimized);
    m_dlg.show();
    m_dlg.raise();
    m_dlg.activateWindow();
}
