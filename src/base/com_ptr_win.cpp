#include "base/com_ptr_win.h"

#include <string>

namespace {

// A library of the system folder by its full path, so that no copy beside the
// program or in the current folder is taken instead.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return ::LoadLibraryW(path.c_str());
}

template <typename Function>
bool Find(HMODULE library, const char* name, Function* function) {
    *function =
        library != nullptr
            ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)))
            : nullptr;
    return *function != nullptr;
}

const ComLibrary* LoadComLibrary() {
    static ComLibrary com;
    const HMODULE ole32 = LoadSystemLibrary(L"ole32.dll");
    const HMODULE oleaut32 = LoadSystemLibrary(L"oleaut32.dll");
    const bool found = Find(ole32, "CoInitializeEx", &com.coInitializeEx) &&
                       Find(ole32, "CoUninitialize", &com.coUninitialize) &&
                       Find(ole32, "CoInitializeSecurity", &com.coInitializeSecurity) &&
                       Find(ole32, "CoCreateInstance", &com.coCreateInstance) &&
                       Find(ole32, "CoSetProxyBlanket", &com.coSetProxyBlanket) &&
                       Find(oleaut32, "SysAllocString", &com.sysAllocString) &&
                       Find(oleaut32, "SysFreeString", &com.sysFreeString) &&
                       Find(oleaut32, "VariantClear", &com.variantClear);
    return found ? &com : nullptr;
}

}  // namespace

const ComLibrary* Com() {
    static const ComLibrary* const com = LoadComLibrary();
    return com;
}
