#include "shell/win32/win32_connection_probe.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h.
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "platform/wide_text.h"
#include "session/link/port_transport.h"
#include "session/link/win_usb_probe.h"

namespace {

// Ports past the port box's eight are looked for too: a USB-serial adapter or a Bluetooth
// port often gets a high number.
constexpr int kHighestCom = 64;
constexpr int kOpenWaitMs = 3000;

// Whether the system has a device of that name ("COM3"), without opening it.
bool ComExists(int n) {
    wchar_t target[512];
    const std::wstring name = L"COM" + std::to_wstring(n);
    return ::QueryDosDeviceW(name.c_str(), target, DWORD(std::size(target))) != 0;
}

// 0 when the port opens for reading and writing now and answers as a communication port,
// else the system's reason. Closed at once; a port another program holds answers "Access is
// denied".
int OpenError(const std::string& devicePath) {
    const HANDLE h =
        ::CreateFileW(platform::Widen(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return platform::kSystemErrorBase + int(::GetLastError());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const int err =
        ::GetCommState(h, &dcb) ? 0 : platform::kSystemErrorBase + int(::GetLastError());
    ::CloseHandle(h);
    return err;
}

// OpenError of each port, all at once and for at most kOpenWaitMs: the open of a Bluetooth
// port whose partner is away waits a long time, and such a port reads as one that does not
// answer. The threads of opens still waiting are left to end by themselves.
void CheckPorts(std::vector<SerialDevice>& devices) {
    struct Shared {
        std::mutex lock;
        std::condition_variable done;
        std::vector<int> errors;
        size_t finished = 0;
    };
    const auto shared = std::make_shared<Shared>();
    shared->errors.assign(devices.size(), platform::kSystemErrorBase + ERROR_SEM_TIMEOUT);
    for (size_t i = 0; i < devices.size(); ++i) {
        std::thread([shared, i, path = devices[i].path] {
            const int err = OpenError(path);
            const std::lock_guard<std::mutex> guard(shared->lock);
            shared->errors[i] = err;
            ++shared->finished;
            shared->done.notify_all();
        }).detach();
    }
    std::unique_lock<std::mutex> guard(shared->lock);
    shared->done.wait_for(guard, std::chrono::milliseconds(kOpenWaitMs),
                          [&] { return shared->finished == devices.size(); });
    for (size_t i = 0; i < devices.size(); ++i) devices[i].openError = shared->errors[i];
}

// 0 when a listener could take the address and port now; EADDRINUSE when another program
// has it; else the system's reason.
int BindError(const std::string& address, uint16_t port) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return EINVAL;
    int result = EINVAL;
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) == 0 &&
        found) {
        const SOCKET s = ::socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) {
            result = platform::kSystemErrorBase + ::WSAGetLastError();
        } else {
            // As the listener binds: without SO_REUSEADDR, which would hide a holder.
            if (::bind(s, found->ai_addr, int(found->ai_addrlen)) == 0) {
                result = 0;
            } else {
                const int err = ::WSAGetLastError();
                result = err == WSAEADDRINUSE || err == WSAEACCES
                             ? EADDRINUSE
                             : platform::kSystemErrorBase + err;
            }
            ::closesocket(s);
        }
        ::freeaddrinfo(found);
    }
    ::WSACleanup();
    return result;
}

// The ways to USB and the handhelds WinUSB sees (thorough: each opened and closed at once).
void ProbeUsb(ConnectionFacts& facts, bool thorough) {
    const auto vendor = ports::win::CreateSystemVendorUsbDriver();
    const auto winUsb = ports::win::CreateSystemWinUsbDriver();
    const ports::win::UsbWaysState state = ports::win::ProbeUsbWays(*vendor, *winUsb, thorough);
    facts.usbSetupApi = state.setupApi;
    facts.usbVendorDriver = state.vendorDriver;
    facts.usbVendorHotSync = state.vendorHotSync;
    facts.usbWinUsb = state.winUsb;
    for (const ports::win::UsbHandheldSeen& seen : state.handhelds) {
        UsbHandheld h;
        h.vendorId = seen.vendorId;
        h.productId = seen.productId;
        h.location = seen.path;
        h.openError = seen.openError == 0 ? 0 : platform::kSystemErrorBase + int(seen.openError);
        if (seen.openError == 0) h.drivers.push_back("WinUSB");
        facts.handhelds.push_back(h);
    }
}

}  // namespace

ConnectionFacts CWin32ConnectionProbe::Probe(bool thorough, const std::string& netAddress,
                                             uint16_t netPort) {
    ConnectionFacts facts;
    facts.linuxServices = false;
    for (int n = 1; n <= kHighestCom; ++n) {
        if (!ComExists(n)) continue;
        SerialDevice device;
        device.path = ports::DefaultComPath(n);
        facts.serial.push_back(device);
    }
    ProbeUsb(facts, thorough);
    if (thorough) {
        CheckPorts(facts.serial);
        facts.net.address = netAddress;
        facts.net.port = netPort;
        facts.net.bindError = BindError(netAddress, netPort);
    }
    return facts;
}
