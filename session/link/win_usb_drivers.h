// The two ways a Windows machine reaches a USB handheld, each behind a small interface of the
// system calls it needs, so that the logic above them (winusb_backend.h,
// vendor_usb_transport.h) is the same code on the machine and in the tests, where fakes of
// these interfaces play the handheld (fake_win_usb_drivers.h):
//  - the handheld vendor's driver: a device opened by name, its connection information through
//    a device I/O control, and two pipe files;
//  - WinUSB: the device interfaces SetupAPI lists, and the WinUsb_* calls on one of them.
// Transfers are started and then waited for with a time-out, as overlapped I/O works, so that
// a driver which never completes a transfer cannot hold the link: the logic cancels it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/link/usb_backend.h"

namespace ports::win {

// The system's error codes the logic tells apart (their values on Windows).
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorBadCommand = 22;  // the device is gone
inline constexpr uint32_t kErrorGenFailure = 31;  // WinUSB: the endpoint stalled
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorSemTimeout = 121;  // WinUSB: the pipe's time-out ran out
inline constexpr uint32_t kErrorNoSuchDevice = 433;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// An opened file or WinUSB interface; kNoHandle when none.
using Handle = uintptr_t;
inline constexpr Handle kNoHandle = 0;

// Where a started transfer stands.
struct IoStatus {
    enum State { kDone, kPending, kFailed } state = kFailed;
    uint32_t transferred = 0;  // kDone: the bytes moved
    uint32_t error = 0;        // kFailed: the system's reason
};

// The vendor driver's calls: SetupAPI is only loaded (a machine without it has no USB), the
// driver's device and its pipes are files. One transfer at a time per handle.
class IVendorUsbDriver {
  public:
    virtual ~IVendorUsbDriver() = default;
    // Loads SETUPAPI.DLL with its four device-interface functions; false (and nothing loaded)
    // when the library or one of them is missing.
    virtual bool LoadSetupApi() = 0;
    virtual void UnloadSetupApi() = 0;
    // Opens a device or pipe for reading and writing, shared for both; kNoHandle with the
    // reason in *error when it cannot be.
    virtual Handle Open(const std::string& path, uint32_t* error) = 0;
    // Ends any transfer still running on the handle before it returns.
    virtual void Close(Handle handle) = 0;
    // A device I/O control with one buffer for input and output; the bytes returned.
    virtual bool IoControl(Handle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                           uint32_t* returned) = 0;
    // Starts a read or write; Wait reports it, Cancel ends it (Wait then reports the end).
    virtual IoStatus BeginRead(Handle handle, uint8_t* data, uint32_t size) = 0;
    virtual IoStatus BeginWrite(Handle handle, const uint8_t* data, uint32_t size) = 0;
    virtual IoStatus Wait(Handle handle, uint32_t timeoutMs) = 0;
    virtual void Cancel(Handle handle) = 0;
};

// A transfer on a WinUSB interface: a control request on pipe 0 (setup packet given), or a
// read or write on a bulk or interrupt pipe.
struct WinUsbTransfer {
    enum Kind { kControl, kRead, kWrite } kind = kRead;
    uint8_t pipe = 0;
    uint8_t requestType = 0, request = 0;  // kControl
    uint16_t value = 0, index = 0;
    uint8_t* data = nullptr;
    uint32_t length = 0;
};

class IWinUsbDriver {
  public:
    virtual ~IWinUsbDriver() = default;
    // Loads winusb.dll and SetupAPI; false when either is missing (WinUSB is then not used).
    virtual bool Load() = 0;
    // The paths of the present USB device interfaces ("\\?\usb#vid_0830&pid_0060#...").
    virtual std::vector<std::string> InterfacePaths() = 0;
    // CreateFile and WinUsb_Initialize; kNoHandle with the reason in *error.
    virtual Handle Open(const std::string& path, uint32_t* error) = 0;
    // Ends any transfer still running on the handle before it returns.
    virtual void Close(Handle handle) = 0;
    // The first interface's number and its endpoints (WinUsb_QueryInterfaceSettings and
    // WinUsb_QueryPipe).
    virtual bool QueryInterface(Handle handle, int* interfaceNumber,
                                std::vector<UsbEndpoint>& endpoints) = 0;
    // The driver's own time-out of a pipe's transfers (pipe 0: control requests).
    virtual bool SetPipeTimeout(Handle handle, uint8_t pipe, uint32_t timeoutMs) = 0;
    virtual IoStatus Begin(Handle handle, const WinUsbTransfer& transfer) = 0;
    virtual IoStatus Wait(Handle handle, uint32_t timeoutMs) = 0;
    // Ends the handle's transfer on that pipe (Wait then reports the end).
    virtual void Abort(Handle handle, uint8_t pipe) = 0;
    virtual bool ResetPipe(Handle handle, uint8_t pipe) = 0;
};

// How long a cancelled transfer is given to report its end before the device is given up.
inline constexpr uint32_t kCancelGraceMs = 500;

// Waits for a started transfer at most timeoutMs, then cancels it and takes what it brought.
// A transfer that does not end even then reports kPending: its buffer may still be written,
// so the caller must not reuse it and gives the device up.
template <class WaitFn, class CancelFn>
IoStatus WaitOrCancel(IoStatus started, uint32_t timeoutMs, WaitFn wait, CancelFn cancel) {
    if (started.state != IoStatus::kPending) return started;
    IoStatus status = wait(timeoutMs);
    if (status.state != IoStatus::kPending) return status;
    cancel();
    status = wait(kCancelGraceMs);
    // Cancelled with nothing moved is a time-out, as WinUSB reports its own.
    if (status.state == IoStatus::kFailed && status.error == kErrorOperationAborted) {
        return {IoStatus::kFailed, 0, kErrorSemTimeout};
    }
    return status;
}

// The system's calls (Windows builds only).
std::unique_ptr<IVendorUsbDriver> CreateSystemVendorUsbDriver();
std::unique_ptr<IWinUsbDriver> CreateSystemWinUsbDriver();

}  // namespace ports::win
