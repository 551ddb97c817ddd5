// SETUPAPI.DLL loaded at run time with the four device-interface functions both USB drivers
// use; a machine without them has no USB for us.
#pragma once

#include <windows.h>
// setupapi.h needs windows.h first.
#include <setupapi.h>

#include <string>
#include <vector>

namespace ports::win {

class CSetupApi {
  public:
    CSetupApi() = default;
    ~CSetupApi() { Unload(); }
    CSetupApi(const CSetupApi&) = delete;
    CSetupApi& operator=(const CSetupApi&) = delete;

    // All four or nothing.
    bool Load();
    void Unload();
    bool Loaded() const { return m_library != nullptr; }

    // The paths of the present device interfaces of a class (Load first).
    std::vector<std::string> InterfacePaths(const GUID& interfaceClass) const;

  private:
    using GetClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
    using EnumInterfacesFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                           PSP_DEVICE_INTERFACE_DATA);
    using GetDetailFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
                                      PSP_DEVINFO_DATA);
    using DestroyListFn = BOOL(WINAPI*)(HDEVINFO);

    HMODULE m_library = nullptr;
    GetClassDevsFn m_getClassDevs = nullptr;
    EnumInterfacesFn m_enumInterfaces = nullptr;
    GetDetailFn m_getDetail = nullptr;
    DestroyListFn m_destroyList = nullptr;
};

}  // namespace ports::win
