// What the window's share of a transfer needs from a window: the Qt main window and
// the console front end each implement it, and CTransferMonitor drives it.
#pragma once

#include <string>
#include <vector>

class CDeviceSession;

class ITransferView {
  public:
    virtual ~ITransferView() = default;

    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetCaption(const std::string& text) = 0;
    // Position within 0 ... rangeMax.
    virtual void SetProgress(int position, int rangeMax) = 0;
    // "mm:ss" since the transfer started.
    virtual void SetElapsed(const std::string& text) = 0;
    // The link icon's animation frame (0 ... 13); frame 0 is also the idle picture.
    virtual void SetAnimationFrame(int /*frame*/) {}
    // An error message with OK and Cancel; true for OK. May run a nested event loop.
    virtual bool AskOkCancel(const std::string& text) = 0;
    // The Cancel button now reads "OK": the transfer is over.
    virtual void SetCancelButtonToOk() {}
    // The run's user directory, to be remembered for the installation history.
    virtual void StoreUserDir(const std::string& /*dir*/) {}
    // The handheld's user name (UTF-8) when the run read it, to be offered when the user
    // adds a desktop user.
    virtual void StoreHandheldUser(const std::string& /*name*/) {}
    // A file the program made, to be deleted when the program closes.
    virtual void AddTempFile(const std::string& /*path*/) {}
    // What a backup or restore of the whole handheld did, line by line, at the end of the
    // run (after the summary in the status line).
    virtual void ShowReport(const std::vector<std::string>& /*lines*/) {}
};

// Picture conversion for the worker, done on the window's thread. Unset: pictures stay as
// they are and the install pass reports them as not installed.
class IPictureConverter {
  public:
    virtual ~IPictureConverter() = default;
    // Writes the viewer application the conversion copies; its path, or empty.
    virtual std::string UnpackViewer() = 0;
    // Converts the picture into a picture application at dbPath, fitted to the
    // session's device facts; its title is dbPath's file name without the extension
    // (the picture's own, or a numbered one when that is taken). True when the file was
    // written.
    virtual bool Convert(const std::string& picturePath, const std::string& dbPath,
                         const std::string& viewerPath, const CDeviceSession& session) = 0;
    // The "compress picture" option, as the window's menu has it now.
    virtual void SetCompress(bool /*compress*/) {}
};
