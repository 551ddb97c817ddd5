// The handheld vendor's USB driver through the system: SETUPAPI.DLL loaded at bind, the
// driver's device and pipes as files opened for overlapped I/O.
#include <memory>

#include "session/link/setup_api_win32.h"
#include "session/link/win_overlapped_win32.h"
#include "session/link/win_usb_drivers.h"

namespace ports::win {
namespace {

struct CFile {
    HANDLE file = INVALID_HANDLE_VALUE;
    COverlapped io;
};

CFile* FileOf(Handle handle) {
    return reinterpret_cast<CFile*>(handle);
}

class CSystemVendorDriver final : public IVendorUsbDriver {
  public:
    bool LoadSetupApi() override { return m_setupApi.Load(); }
    void UnloadSetupApi() override { m_setupApi.Unload(); }

    Handle Open(const std::string& path, uint32_t* error) override {
        auto file = std::make_unique<CFile>();
        file->file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
        if (file->file == INVALID_HANDLE_VALUE || !file->io.Usable()) {
            *error = ::GetLastError();
            if (file->file != INVALID_HANDLE_VALUE) ::CloseHandle(file->file);
            return kNoHandle;
        }
        return reinterpret_cast<Handle>(file.release());
    }

    void Close(Handle handle) override {
        std::unique_ptr<CFile> file(FileOf(handle));
        if (!file) return;
        if (file->io.Pending()) {
            ::CancelIoEx(file->file, file->io.Current());
            DWORD transferred = 0;
            ::GetOverlappedResult(file->file, file->io.Current(), &transferred, TRUE);
        }
        ::CloseHandle(file->file);
    }

    bool IoControl(Handle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                   uint32_t* returned) override {
        CFile* file = FileOf(handle);
        DWORD got = 0;
        OVERLAPPED* ov = file->io.Next();
        BOOL ok = ::DeviceIoControl(file->file, code, buffer, size, buffer, size, &got, ov);
        if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
            ok = ::GetOverlappedResult(file->file, ov, &got, TRUE);
        }
        file->io.Ended();
        *returned = got;
        return ok != FALSE;
    }

    IoStatus BeginRead(Handle handle, uint8_t* data, uint32_t size) override {
        CFile* file = FileOf(handle);
        DWORD got = 0;
        const BOOL ok = ::ReadFile(file->file, data, size, &got, file->io.Next());
        return file->io.Started(ok, got);
    }
    IoStatus BeginWrite(Handle handle, const uint8_t* data, uint32_t size) override {
        CFile* file = FileOf(handle);
        DWORD got = 0;
        const BOOL ok = ::WriteFile(file->file, data, size, &got, file->io.Next());
        return file->io.Started(ok, got);
    }
    IoStatus Wait(Handle handle, uint32_t timeoutMs) override {
        CFile* file = FileOf(handle);
        return file->io.Wait(timeoutMs, [file](OVERLAPPED* ov, DWORD* transferred) {
            return ::GetOverlappedResult(file->file, ov, transferred, FALSE) != FALSE;
        });
    }
    void Cancel(Handle handle) override {
        CFile* file = FileOf(handle);
        ::CancelIoEx(file->file, file->io.Current());
    }

  private:
    CSetupApi m_setupApi;
};

}  // namespace

std::unique_ptr<IVendorUsbDriver> CreateSystemVendorUsbDriver() {
    return std::make_unique<CSystemVendorDriver>();
}

}  // namespace ports::win
