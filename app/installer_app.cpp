#include "app/installer_app.h"

#include <cstdio>

#include "app/run_settings.h"
#include "cc_version.h"
#include "formats/cca/sfx_trailer.h"
#include "platform/system.h"
#include "shell/hand_over_slots.h"
#include "shell/program_file.h"
#include "shell/settings_store.h"

CInstallerApp::CInstallerApp(StartupServices services) : m_services(std::move(services)) {}

CInstallerApp::~CInstallerApp() {
    // The channel goes last: while it lives, further starts are second instances.
    m_pSettings.reset();
    m_pChannel.reset();
}

int CInstallerApp::Run(const std::vector<std::string>& args) {
    // --help and --version answer without becoming an instance; a program that carries an
    // archive looks at no argument at all.
    uint64_t nOffset = 0;
    uint64_t nSize = 0;
    if (!cca::FindSfxArchive(m_services.strSelfFile, nOffset, nSize)) {
        StartOptions early;
        ParseCommandLine(
            args, [](const std::string&) { return false; }, early);
        const std::string strName = program::ProgramName(m_services.strProgramPath);
        if (early.bHelp) {
            m_services.printOut(InstallerUsage(strName.empty() ? "ccourier" : strName));
            return 0;
        }
        if (early.bVersion) {
            m_services.printOut("Cradlecourier " CC_VERSION "\n");
            return 0;
        }
        // The uninstaller's call: no window, no instance, nothing asked.
        if (early.bUnregisterTypes) {
            m_pSettings = m_services.openSettings();
            if (m_services.unregisterFileTypes) m_services.unregisterFileTypes(*m_pSettings);
            return 0;
        }
    }

    if (m_services.startUserInterface) m_services.startUserInterface();

    // 1 to 3: instance test, settings, help file.
    m_bFirst = InstanceTest();
    m_pSettings = m_services.openSettings();
    m_strHelpFilePath = program::GetProgramDirectory() + "/CCOURIER.HLP";
    // 4: an archive carried by the program file; then nothing else is looked at.
    CheckSelfExtracting();
    // 5: the arguments.
    if (m_files.empty()) {
        ParseCommandLine(args, m_services.fileCanBeOpened, m_options);
        m_files = m_options.files;
        for (const std::string& warning : m_options.warnings) {
            m_services.printError("ccourier: " + warning + "\n");
        }
    }
    // 6: file types.
    if (!m_bSelfExtracting && m_services.registerFileTypes) {
        m_services.registerFileTypes(*m_pSettings, false);
    }
    // 7: the whole command line; an unquoted path with blanks arrives in pieces, none of
    // which opens.
    if (m_files.empty()) {
        const std::string strWhole = JoinCommandLine(args);
        if (m_services.fileCanBeOpened(strWhole)) m_files.push_back(FullPath(strWhole));
    }
    // 8: the chooser, in the first instance only.
    if (m_bFirst && m_files.empty() &&
        m_pSettings->ReadInt(settings::kMain, "OpenDialog", 0) != 0) {
        m_services.chooseFiles(m_files);
    }
    // 9: archives.
    PreprocessArchives();
    // 10: the window, or the hand-over to the one that runs.
    if (m_bFirst) {
        RunMainWindow();
    } else {
        HandOver();
    }
    // 11: no message loop runs after this; the process ends.
    return 0;
}

bool CInstallerApp::InstanceTest() {
    const std::string strName = program::ProgramName(m_services.strProgramPath);
    m_strInstanceKey = instance::MakeInstanceKey(strName, m_services.strProgramPath);
    m_pChannel = m_services.openChannel(m_strInstanceKey);
    switch (m_pChannel->Open()) {
        case IInstanceChannel::Role::kFirst:
            m_pChannel->SetHandler([this](const InstanceMessage& m) { return OnMessage(m); });
            return true;
        case IInstanceChannel::Role::kSecond:
            // The running window comes to the front; whether it answers does not matter.
            m_pChannel->Send({kRaiseMessage, 0, 0}, kRaiseTimeoutMs);
            return false;
        case IInstanceChannel::Role::kNoServer:
            m_services.printError("ccourier: " + m_pChannel->Problem() + "\n");
            m_services.showStopMessage("Failed to register window class!");
            return false;
    }
    return false;
}

void CInstallerApp::CheckSelfExtracting() {
    const std::string strCopy = m_services.strTempDir + kSfxFileName;
    // Written beside it and renamed over it: a first instance of the same program may be
    // reading the older copy for a transfer right now, and keeps reading that one.
    const std::string strPart = strCopy + "." + std::to_string(platform::ProcessId());
    // No trailer, an offset outside the file, or a copy that can't be written: no archive.
    if (!cca::ExtractSfxArchive(m_services.strSelfFile, strPart)) return;
    if (std::rename(strPart.c_str(), strCopy.c_str()) != 0) {
        std::remove(strPart.c_str());
        return;
    }
    m_files.assign(1, strCopy);
    m_bSelfExtracting = true;
    m_strSfxPath = strCopy;
}

void CInstallerApp::RunMainWindow() {
    // "--port PATH": for this run the window's COM1 is that device, and the window starts
    // on it whatever port the settings hold; nothing of it is stored.
    CRunSettings runSettings(*m_pSettings);
    if (!m_options.strPortDevice.empty()) {
        runSettings.SetOverride(settings::kCom, "ComPort", "1");
        runSettings.SetOverride(settings::kCom, "USB", "0");
        runSettings.SetOverride(settings::kCom, "Net", "0");
        runSettings.SetOverride(settings::kCom, "Device1", m_options.strPortDevice);
    }
    std::unique_ptr<IStartupWindow> pWindow = m_services.makeWindow(runSettings);
    m_pMainWindow = pWindow.get();
    for (const std::string& strPath : m_files) pWindow->AddFile(strPath);
    if (m_options.bClose) pWindow->SetCloseOnFinish();
    pWindow->SetIgnoreHotSync(m_options.bIgnoreHotSync);
    pWindow->SetTitle(m_options.strTitle);
    if (!m_options.strPort.empty()) pWindow->SetPortFromText(m_options.strPort);
    // Files handed over while start-up still ran (a read-me window was open, say) would
    // otherwise wait for the next notification, or be lost at the end.
    if (m_bHandOverPending) {
        m_bHandOverPending = false;
        TakeHandedOver(handover::kMessageParam, 0);
    }
    pWindow->Exec();
    m_pSettings->Flush();  // slots written by others meanwhile go too
    handover::DeleteSlots(*m_pSettings);
    m_pMainWindow = nullptr;
    pWindow.reset();
    if (m_bSelfExtracting) std::remove(m_strSfxPath.c_str());
}

void CInstallerApp::HandOver() {
    m_nHandedOver = handover::WriteSlots(*m_pSettings, m_files, m_services.strSlotLockPath);
    m_services.sleep(100);
    const InstanceMessage message{handover::kMessageName, handover::kMessageParam,
                                  static_cast<int32_t>(m_files.size())};
    if (!m_pChannel->Send(message, kHandOverTimeoutMs) && m_nHandedOver > 0) {
        m_services.printError(
            "ccourier: the running installer did not answer; its files wait in the hand-over "
            "slots for its next notification\n");
    }
}

int32_t CInstallerApp::OnMessage(const InstanceMessage& message) {
    if (message.strName == kRaiseMessage) {
        if (m_pMainWindow) m_pMainWindow->Raise();
        return 0;
    }
    if (message.strName != handover::kMessageName) return 0;
    if (!m_pMainWindow) {
        if (message.nWParam == handover::kMessageParam) m_bHandOverPending = true;
        return 0;
    }
    TakeHandedOver(message.nWParam, message.nLParam);
    return 0;
}

void CInstallerApp::TakeHandedOver(int nWParam, int nLParam) {
    // The slots were written by other processes: read afresh. A path that is gone by now
    // (or a slot someone wrote by hand) would only queue a file that can't be installed.
    m_pSettings->Flush();
    handover::DropSlots(*m_pSettings, m_services.fileCanBeOpened);
    m_pMainWindow->OnWindowMessage(nWParam, nLParam);
}
