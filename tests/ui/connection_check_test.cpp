// The connection check's window: its logic over a recording view, the Qt view built from
// its table, and the main window's share (the Help menu's command, the port box's list, the
// busy line naming a sole USB-serial adapter).
#include <QAbstractItemView>
#include <QComboBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include "resources/strings/dialog_texts.h"
#include "shell/connection_report.h"
#include "tests/ui/window_fixture.h"
#include "ui/installer_layout.h"
#include "ui/qt/connection_check_view.h"

namespace {

using namespace installer;

ConnectionFacts MachineWithAdapter() {
    ConnectionFacts f;
    SerialDevice adapter;
    adapter.path = "/dev/ttyUSB0";
    adapter.driver = "pl2303";
    adapter.vendorId = 0x067B;
    adapter.productId = 0x2303;
    f.serial.push_back(adapter);
    f.handhelds.push_back({0x0830, 0x0060, "1-1.4", "/dev/bus/usb/001/007", 0, {}});
    f.userName = "jane";
    f.inDialout = true;
    f.udevRule = "/etc/udev/rules.d/60-cradlecourier.rules";
    f.net = {"127.0.0.1", 14238, 0, {}};
    return f;
}

struct RecordingView : IConnectionCheckView {
    void ShowReport(const std::string& text, bool reachable) override {
        texts.push_back(text);
        reachables.push_back(reachable);
    }
    std::vector<std::string> texts;
    std::vector<bool> reachables;
};

TEST(ConnectionCheckLogic, ShowsTheReportAndLooksAgainOnRequest) {
    resources::SetLanguage(resources::Language::kEnglish);
    CFixedConnectionProbe probe(MachineWithAdapter());
    CMemorySettings settings;
    RecordingView view;
    CConnectionCheckDlg dlg(probe, settings, "USB", view);
    dlg.OnInitDialog();
    ASSERT_EQ(view.texts.size(), 1u);
    EXPECT_EQ(view.texts[0],
              RenderConnectionReport(BuildConnectionReport(probe.m_facts, settings, "USB")));
    EXPECT_TRUE(view.reachables[0]);
    // The handheld went away: "Check again" looks at the system anew.
    probe.m_facts.handhelds.clear();
    dlg.OnCheckAgain();
    EXPECT_EQ(probe.m_nProbes, 2);
    ASSERT_EQ(view.texts.size(), 2u);
    EXPECT_FALSE(view.reachables[1]);
    EXPECT_NE(view.texts[1].find("No handheld can be reached now."), std::string::npos);
    EXPECT_FALSE(dlg.Report().reachable);
}

class ConnectionCheckWindow : public uitest::WindowTest {};

TEST_F(ConnectionCheckWindow, TheViewShowsTheReportInBothLanguages) {
    machine.m_facts = MachineWithAdapter();
    for (const auto language : {resources::Language::kEnglish, resources::Language::kGerman}) {
        resources::SetLanguage(language);
        CConnectionCheckView view(machine, settings, "COM1");
        view.show();
        const std::string text = view.ReportBox()->toPlainText().toStdString();
        EXPECT_EQ(text,
                  RenderConnectionReport(BuildConnectionReport(machine.m_facts, settings, "COM1")));
        EXPECT_TRUE(view.ReportBox()->isReadOnly());
        EXPECT_EQ(view.windowTitle().toStdString(),
                  resources::LoadItemText(resources::kDlgConnectionCheck, resources::kItemCaption));
        const int before = machine.m_nProbes;
        static_cast<QPushButton*>(view.Item(conncheck::kIdAgain))->click();
        EXPECT_EQ(machine.m_nProbes, before + 1);
        static_cast<QPushButton*>(view.Item(conncheck::kIdClose))->click();
        EXPECT_EQ(view.result(), QDialog::Accepted);
        // Every control inside the dialog.
        for (int id : {conncheck::kIdReport, conncheck::kIdAgain, conncheck::kIdClose}) {
            EXPECT_TRUE(view.rect().contains(view.Item(id)->geometry())) << id;
        }
    }
    resources::SetLanguage(resources::Language::kEnglish);
}

TEST_F(ConnectionCheckWindow, TheHelpMenuOpensItForThePortChosen) {
    machine.m_facts = MachineWithAdapter();
    settings.WriteInt("com", "USB", 1);
    CInstallerDlg& d = Open();
    ASSERT_TRUE(View().Action(kCmdCheckConnection));
    std::string report;
    View().m_execDialog = [&](QDialog& dialog) {
        auto* view = dynamic_cast<CConnectionCheckView*>(&dialog);
        if (!view) return 0;
        view->show();
        report = view->ReportBox()->toPlainText().toStdString();
        return 1;
    };
    d.OnCommand(kCmdCheckConnection);
    EXPECT_NE(report.find("A handheld can be reached now: USB."), std::string::npos) << report;
}

TEST_F(ConnectionCheckWindow, ThePortBoxListTellsWhereEachPortGoes) {
    machine.m_facts = MachineWithAdapter();
    settings.WriteText("com", "Device2", "/dev/ttyUSB0");
    Open();
    EXPECT_EQ(View().PortLabel(0).toStdString(), "COM1 — /dev/ttyS0 (missing)");
    EXPECT_EQ(View().PortLabel(1).toStdString(), "COM2 — /dev/ttyUSB0 (USB-serial adapter)");
    EXPECT_EQ(View().PortLabel(8).toStdString(), "USB — Palm Tungsten T, T2, T3, C, E, Zire 71");
    EXPECT_EQ(View().PortLabel(9).toStdString(), "NET — 127.0.0.1:14238");
    // The entries keep the names the settings and the command line use.
    auto* box = static_cast<QComboBox*>(View().Item(kIdPort));
    EXPECT_EQ(box->itemText(1), "COM2");
    EXPECT_EQ(box->itemText(8), "USB");
    // The list is as wide as its longest text.
    EXPECT_GT(box->view()->minimumWidth(), box->width());
    // Opening the box looks at the system again: the adapter is gone.
    machine.m_facts.serial.clear();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &press);
    box->hidePopup();
    EXPECT_EQ(View().PortLabel(1).toStdString(), "COM2 — /dev/ttyUSB0 (missing)");
}

TEST_F(ConnectionCheckWindow, TheBusyLineNamesTheSoleAdapterAndHowToChooseIt) {
    machine.m_facts = MachineWithAdapter();
    InstallerServices s = Services();
    s.makeSession = [](const std::string& port, int speed) {
        return std::make_unique<CDeviceSession>(port.c_str(), true, speed, [](const std::string&) {
            errno = ENOENT;
            return std::unique_ptr<hotsync::ITransport>();
        });
    };
    m_dlg = std::make_unique<CInstallerView>(s);
    m_dlg->InitDialog();
    m_dlg->Dialog().OnTimer();
    EXPECT_EQ(Status().toStdString(),
              "port COM1 busy (no such device /dev/ttyS0; USB-serial adapter: /dev/ttyUSB0, "
              "chosen with Device1=/dev/ttyUSB0 in [com])");
}

}  // namespace
