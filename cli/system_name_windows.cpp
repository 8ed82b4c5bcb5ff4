#include "system_name.h"

#include <windows.h>

namespace quorvane {

std::string systemName() {
    // RtlGetVersion tells the true version; GetVersionEx answers what the manifest declares.
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll == nullptr ? nullptr
                                      : reinterpret_cast<GetVersion>(reinterpret_cast<void*>(
                                            ::GetProcAddress(ntdll, "RtlGetVersion")));
    if (get == nullptr || get(&info) != 0)
        return "Windows";
    return "Windows " + std::to_string(info.dwMajorVersion) + "." +
           std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber);
}

} // namespace quorvane
