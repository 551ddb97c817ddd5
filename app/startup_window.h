// What start-up needs of the main window: its inputs for the run, the modal run itself, and
// the two things a second instance asks of it. CInstallerWindowHost puts CInstallerDlg behind
// it; start-up tests use a recording fake.
#pragma once

#include <string>

class IStartupWindow {
  public:
    virtual ~IStartupWindow() = default;

    // AddFile of the file list; true when the list grew.
    virtual bool AddFile(const std::string& strPath) = 0;
    // The run's inputs, set between construction and the modal run.
    virtual void SetCloseOnFinish() = 0;
    virtual void SetIgnoreHotSync(bool bIgnore) = 0;
    virtual void SetTitle(const std::string& strTitle) = 0;
    virtual void SetPortFromText(const std::string& strPort) = 0;

    // The modal run; returns when the window has closed normally.
    virtual int Exec() = 0;

    // A window message that reached the running instance: the hand-over notification is
    // recognised by wParam 1970 alone. True when it was handled.
    virtual bool OnWindowMessage(int nWParam, int nLParam) = 0;
    // Restored from the minimised state, raised and activated.
    virtual void Raise() = 0;
};
