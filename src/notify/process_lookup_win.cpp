// The process name through Windows Management Instrumentation: a query on
// Win32_Process in ROOT\CIMV2, its results awaited for a bounded time. COM
// is joined and left on every call; its libraries come with the first lookup.
#include <windows.h>

#include <wbemidl.h>

#include <string>

#include "base/code_page.h"
#include "base/com_ptr_win.h"
#include "base/text.h"
#include "base/wide_text_win.h"
#include "notify/process_lookup.h"

namespace {

// {4590F811-1D3A-11D0-891F-00AA004B2E24}
constexpr CLSID kWbemLocatorClass = {
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
// {DC12A687-737F-11CF-884D-00AA004B2E24}
constexpr IID kWbemLocatorInterface = {
    0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

// A string property of `object`, passed through the ANSI code page as the
// result will be; false when the property holds no string.
bool ReadStringProperty(IWbemClassObject* object, const wchar_t* name, std::wstring* out) {
    UniqueVariant value;
    object->Get(name, 0, value.Put(), nullptr, nullptr);
    if (value.Get().vt != VT_BSTR || value.Get().bstrVal == nullptr) {
        return false;
    }
    *out += ToWideString(PlatformCodePageDecoder()(EncodeThreadAnsi(value.Get().bstrVal)));
    return true;
}

}  // namespace

std::string GetProcessName(int32_t processId) {
    const std::string query =
        "Select Name from Win32_Process where ProcessId = " + IntToString(processId);
    std::string result;

    const ComApartment apartment(COINIT_MULTITHREADED);
    if (!apartment.Joined()) {
        return result;
    }
    // Security can be set once per process: RPC_E_TOO_LATE means an earlier
    // lookup (or anyone else) has set it already, and the lookup goes on.
    const ComLibrary& com = *Com();  // there: the apartment was joined through it
    const HRESULT security =
        com.coInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(security) && security != RPC_E_TOO_LATE) {
        return result;
    }
    ComPtr<IWbemLocator> locator;
    if (FAILED(com.coCreateInstance(kWbemLocatorClass, nullptr, CLSCTX_INPROC_SERVER,
                                    kWbemLocatorInterface,
                                    reinterpret_cast<void**>(locator.GetAddressOf())))) {
        return result;
    }
    ComPtr<IWbemServices> services;
    const UniqueBstr space(com.sysAllocString(L"ROOT\\CIMV2"));
    if (FAILED(locator->ConnectServer(space.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                      services.GetAddressOf())) ||
        FAILED(com.coSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                     RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                     EOAC_NONE))) {
        return result;
    }
    const std::u16string wideQuery = WidenBytes(query);  // plain ASCII
    const UniqueBstr language(com.sysAllocString(L"WQL"));
    const UniqueBstr text(com.sysAllocString(reinterpret_cast<const wchar_t*>(wideQuery.c_str())));
    ComPtr<IEnumWbemClassObject> enumerator;
    if (FAILED(services->ExecQuery(language.Get(), text.Get(),
                                   WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                   enumerator.GetAddressOf()))) {
        return result;
    }

    // The results come as the service finds them; a service that hangs ends
    // the lookup when the time is up (WBEM_S_TIMEDOUT, nothing returned).
    const ULONGLONG deadline = GetTickCount64() + PROCESS_LOOKUP_TIMEOUT_MS;
    while (enumerator != nullptr) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            break;
        }
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        enumerator->Next(static_cast<LONG>(deadline - now), 1, object.GetAddressOf(), &returned);
        if (returned == 0) {
            break;
        }
        std::wstring composed;
        if (ReadStringProperty(object.Get(), L"ExecutablePath", &composed)) {
            composed += L'\\';
        }
        std::wstring name;
        if (ReadStringProperty(object.Get(), L"Name", &name)) {
            composed += name;
            result = EncodeThreadAnsi(composed.c_str());
        }
    }
    return result;
}
