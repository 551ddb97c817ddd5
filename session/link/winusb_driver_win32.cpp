// WinUSB through the system. winusb.dll is loaded at run time rather than linked: where it is
// missing (or broken) the program still starts and serves COM ports and the vendor's driver,
// and USB through WinUSB is simply not offered.
#include <memory>

#include "session/link/setup_api_win32.h"
#include "session/link/win_overlapped_win32.h"
#include "session/link/win_usb_drivers.h"
// winusb.h after windows.h.
#include <winusb.h>

namespace ports::win {
namespace {

// Every USB device shows this interface; a handheld bound to WinUSB answers WinUsb_Initialize
// on it.
constexpr GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

struct CWinUsbFile {
    HANDLE file = INVALID_HANDLE_VALUE;
    WINUSB_INTERFACE_HANDLE usb = nullptr;
    COverlapped io;
};

CWinUsbFile* FileOf(Handle handle) {
    return reinterpret_cast<CWinUsbFile*>(handle);
}

template <class Fn>
Fn Proc(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

class CSystemWinUsbDriver final : public IWinUsbDriver {
  public:
    ~CSystemWinUsbDriver() override {
        if (m_library) ::FreeLibrary(m_library);
    }

    bool Load() override {
        if (m_library) return true;
        if (!m_setupApi.Load()) return false;
        m_library = ::LoadLibraryA("winusb.dll");
        if (!m_library) return false;
        m_initialize = Proc<decltype(&WinUsb_Initialize)>(m_library, "WinUsb_Initialize");
        m_free = Proc<decltype(&WinUsb_Free)>(m_library, "WinUsb_Free");
        m_querySettings = Proc<decltype(&WinUsb_QueryInterfaceSettings)>(
            m_library, "WinUsb_QueryInterfaceSettings");
        m_queryPipe = Proc<decltype(&WinUsb_QueryPipe)>(m_library, "WinUsb_QueryPipe");
        m_setPolicy = Proc<decltype(&WinUsb_SetPipePolicy)>(m_library, "WinUsb_SetPipePolicy");
        m_control = Proc<decltype(&WinUsb_ControlTransfer)>(m_library, "WinUsb_ControlTransfer");
        m_read = Proc<decltype(&WinUsb_ReadPipe)>(m_library, "WinUsb_ReadPipe");
        m_write = Proc<decltype(&WinUsb_WritePipe)>(m_library, "WinUsb_WritePipe");
        m_result =
            Proc<decltype(&WinUsb_GetOverlappedResult)>(m_library, "WinUsb_GetOverlappedResult");
        m_abort = Proc<decltype(&WinUsb_AbortPipe)>(m_library, "WinUsb_AbortPipe");
        m_reset = Proc<decltype(&WinUsb_ResetPipe)>(m_library, "WinUsb_ResetPipe");
        if (!m_initialize || !m_free || !m_querySettings || !m_queryPipe || !m_setPolicy ||
            !m_control || !m_read || !m_write || !m_result || !m_abort || !m_reset) {
            ::FreeLibrary(m_library);
            m_library = nullptr;
            return false;
        }
        return true;
    }

    std::vector<std::string> InterfacePaths() override {
        return m_setupApi.InterfacePaths(kUsbDeviceInterface);
    }

    Handle Open(const std::string& path, uint32_t* error) override {
        auto file = std::make_unique<CWinUsbFile>();
        file->file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (file->file == INVALID_HANDLE_VALUE) {
            *error = ::GetLastError();
            return kNoHandle;
        }
        if (!file->io.Usable() || !m_initialize(file->file, &file->usb)) {
            *error = ::GetLastError();
            ::CloseHandle(file->file);
            return kNoHandle;
        }
        return reinterpret_cast<Handle>(file.release());
    }

    void Close(Handle handle) override {
        std::unique_ptr<CWinUsbFile> file(FileOf(handle));
        if (!file) return;
        if (file->io.Pending()) {
            ::CancelIoEx(file->file, file->io.Current());
            DWORD transferred = 0;
            m_result(file->usb, file->io.Current(), &transferred, TRUE);
        }
        m_free(file->usb);
        ::CloseHandle(file->file);
    }

    bool QueryInterface(Handle handle, int* interfaceNumber,
                        std::vector<UsbEndpoint>& endpoints) override {
        CWinUsbFile* file = FileOf(handle);
        USB_INTERFACE_DESCRIPTOR descriptor{};
        if (!m_querySettings(file->usb, 0, &descriptor)) return false;
        *interfaceNumber = descriptor.bInterfaceNumber;
        endpoints.clear();
        for (UCHAR i = 0; i < descriptor.bNumEndpoints; ++i) {
            WINUSB_PIPE_INFORMATION pipe{};
            if (!m_queryPipe(file->usb, 0, i, &pipe)) continue;
            endpoints.push_back(
                {pipe.PipeId, uint8_t(pipe.PipeType & 0x03), uint16_t(pipe.MaximumPacketSize)});
        }
        return true;
    }

    bool SetPipeTimeout(Handle handle, uint8_t pipe, uint32_t timeoutMs) override {
        ULONG value = timeoutMs;
        return m_setPolicy(FileOf(handle)->usb, pipe, PIPE_TRANSFER_TIMEOUT, sizeof value,
                           &value) != FALSE;
    }

    IoStatus Begin(Handle handle, const WinUsbTransfer& t) override {
        CWinUsbFile* file = FileOf(handle);
        ULONG got = 0;
        OVERLAPPED* ov = file->io.Next();
        BOOL ok = FALSE;
        switch (t.kind) {
            case WinUsbTransfer::kControl: {
                WINUSB_SETUP_PACKET setup{};
                setup.RequestType = t.requestType;
                setup.Request = t.request;
                setup.Value = t.value;
                setup.Index = t.index;
                setup.Length = USHORT(t.length);
                ok = m_control(file->usb, setup, t.data, t.length, &got, ov);
                break;
            }
            case WinUsbTransfer::kRead:
                ok = m_read(file->usb, t.pipe, t.data, t.length, &got, ov);
                break;
            case WinUsbTransfer::kWrite:
                ok = m_write(file->usb, t.pipe, t.data, t.length, &got, ov);
                break;
        }
        return file->io.Started(ok, got);
    }

    IoStatus Wait(Handle handle, uint32_t timeoutMs) override {
        CWinUsbFile* file = FileOf(handle);
        return file->io.Wait(timeoutMs, [this, file](OVERLAPPED* ov, DWORD* transferred) {
            return m_result(file->usb, ov, transferred, FALSE) != FALSE;
        });
    }

    void Abort(Handle handle, uint8_t pipe) override {
        CWinUsbFile* file = FileOf(handle);
        if (pipe != 0) m_abort(file->usb, pipe);
        ::CancelIoEx(file->file, file->io.Current());
    }

    bool ResetPipe(Handle handle, uint8_t pipe) override {
        return m_reset(FileOf(handle)->usb, pipe) != FALSE;
    }

  private:
    CSetupApi m_setupApi;
    HMODULE m_library = nullptr;
    decltype(&WinUsb_Initialize) m_initialize = nullptr;
    decltype(&WinUsb_Free) m_free = nullptr;
    decltype(&WinUsb_QueryInterfaceSettings) m_querySettings = nullptr;
    decltype(&WinUsb_QueryPipe) m_queryPipe = nullptr;
    decltype(&WinUsb_SetPipePolicy) m_setPolicy = nullptr;
    decltype(&WinUsb_ControlTransfer) m_control = nullptr;
    decltype(&WinUsb_ReadPipe) m_read = nullptr;
    decltype(&WinUsb_WritePipe) m_write = nullptr;
    decltype(&WinUsb_GetOverlappedResult) m_result = nullptr;
    decltype(&WinUsb_AbortPipe) m_abort = nullptr;
    decltype(&WinUsb_ResetPipe) m_reset = nullptr;
};

}  // namespace

std::unique_ptr<IWinUsbDriver> CreateSystemWinUsbDriver() {
    return std::make_unique<CSystemWinUsbDriver>();
}

}  // namespace ports::win
