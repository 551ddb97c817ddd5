// The main window under test: settings in memory, every outside service a recording fake,
// and sessions that either fail to open or reach an in-process virtual handheld.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/install_worker.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"
#include "session/link/pipe_transport.h"
#include "shell/connection_probe.h"
#include "shell/memory_settings.h"
#include "tests/session/db_builder.h"
#include "tests/support/qt_test_app.h"
#include "tests/ui_logic/recording_services.h"
#include "tools/handheld/virtual_handheld.h"
#include "ui/qt/installer_view.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace uitest {

inline QApplication& App() {
    return testsupport::QtTestApp();
}

class WindowTest : public uilogic::CWindowTestBase {
  protected:
    void SetUp() override {
        App();
        CWindowTestBase::SetUp();
    }
    void TearDown() override {
        m_dlg.reset();
        if (m_hh) m_hh->Stop();
        CWindowTestBase::TearDown();
    }

    InstallerServices Services() {
        InstallerServices s;
        Fill(s);
        s.connectionProbe = &machine;
        s.makeSession = [this](const std::string& port, int speed) {
            sessions.push_back(port + "@" + std::to_string(speed));
            if (!m_bHandheld) {
                // A port that does not open: no device behind it.
                return std::make_unique<CDeviceSession>(
                    port.c_str(), true, speed,
                    CDeviceSession::TransportFactory(
                        [](const std::string&) { return std::unique_ptr<hotsync::ITransport>(); }));
            }
            m_bHandheld = false;  // one handheld per test; later sessions find none
            auto pipe = ports::CreatePipePair();
            m_hh = std::make_unique<handheld::CVirtualHandheld>(config);
            m_hhTransport = std::move(pipe.handheld);
            m_hh->Start(*m_hhTransport);
            auto session = std::make_unique<CDeviceSession>(port.c_str(), true, speed,
                                                            std::move(pipe.desktop));
            hotsync::LinkTimeouts t;
            t.ackWaitMs = 300;
            t.sendTries = 3;
            t.receiveMs = 3000;
            t.acceptMs = 5000;
            t.rateSettleMs = 0;
            session->SetLinkTimeouts(t);
            return session;
        };
        return s;
    }

    // The window's behaviour; View() is its Qt view.
    CInstallerDlg& Open(bool init = true) {
        m_dlg = std::make_unique<CInstallerView>(Services());
        if (init) m_dlg->InitDialog();
        return m_dlg->Dialog();
    }
    CInstallerView& View() { return *m_dlg; }

    // A handheld behind the next session, pressing HotSync at once.
    void WithHandheld() {
        m_bHandheld = true;
        config.pressAfterMs = 0;
        config.ackTimeoutMs = 300;
        config.retries = 3;
        config.receiveTimeoutMs = 3000;
        config.timeoutSec = 10;
    }

    // Timer steps until the run has come and gone (or ms passed); whether it ended.
    bool RunTransfer(int ms = 60000, const std::function<void()>& onTick = {}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        bool started = false;
        while (std::chrono::steady_clock::now() < deadline) {
            m_dlg->Dialog().OnTimer();
            QCoreApplication::processEvents();
            if (m_dlg->Dialog().m_bTransferRunning) {
                started = true;
                if (onTick) onTick();
            }
            if (started && !m_dlg->Dialog().m_bTransferRunning) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    QString Status() const { return Text(1002); }
    QString Text(int id) const;

    // What the port box and the connection check see: an empty machine unless a test says.
    CFixedConnectionProbe machine{ConnectionFacts{}};
    handheld::HandheldConfig config;
    std::vector<std::string> sessions;
    std::unique_ptr<CInstallerView> m_dlg;
    std::unique_ptr<handheld::CVirtualHandheld> m_hh;
    std::unique_ptr<hotsync::ITransport> m_hhTransport;
    bool m_bHandheld = false;
};

}  // namespace uitest
