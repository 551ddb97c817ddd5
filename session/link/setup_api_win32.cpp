#include "session/link/setup_api_win32.h"

namespace ports::win {
namespace {

template <class Fn>
Fn Proc(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

}  // namespace

bool CSetupApi::Load() {
    if (m_library) return true;
    m_library = ::LoadLibraryA("SETUPAPI.DLL");
    if (!m_library) return false;
    m_getDetail = Proc<GetDetailFn>(m_library, "SetupDiGetDeviceInterfaceDetailA");
    m_enumInterfaces = Proc<EnumInterfacesFn>(m_library, "SetupDiEnumDeviceInterfaces");
    m_getClassDevs = Proc<GetClassDevsFn>(m_library, "SetupDiGetClassDevsA");
    m_destroyList = Proc<DestroyListFn>(m_library, "SetupDiDestroyDeviceInfoList");
    if (!m_getDetail || !m_enumInterfaces || !m_getClassDevs || !m_destroyList) {
        Unload();
        return false;
    }
    return true;
}

void CSetupApi::Unload() {
    if (m_library) ::FreeLibrary(m_library);
    m_library = nullptr;
    m_getClassDevs = nullptr;
    m_enumInterfaces = nullptr;
    m_getDetail = nullptr;
    m_destroyList = nullptr;
}

std::vector<std::string> CSetupApi::InterfacePaths(const GUID& interfaceClass) const {
    std::vector<std::string> paths;
    if (!m_library) return paths;
    const HDEVINFO list =
        m_getClassDevs(&interfaceClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
    if (list == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; m_enumInterfaces(list, nullptr, &interfaceClass, i, &data); ++i) {
        DWORD needed = 0;
        m_getDetail(list, &data, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        std::vector<char> buffer(needed, 0);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (m_getDetail(list, &data, detail, needed, nullptr, nullptr)) {
            paths.emplace_back(detail->DevicePath);
        }
    }
    m_destroyList(list);
    return paths;
}

}  // namespace ports::win
