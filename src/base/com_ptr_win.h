// COM at the OS boundary: interface pointers held by the SDK's ComPtr (which
// MinGW-w64 carries as well), owners of BSTR and VARIANT values, and the
// thread's COM apartment joined for a scope. ole32 and oleaut32 are loaded on
// first use (ComLibrary), not with the program.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "base/unique_handle_win.h"

template <typename Interface>
using ComPtr = Microsoft::WRL::ComPtr<Interface>;

// The functions of ole32 and oleaut32 this program calls. Only the process
// lookup (a conflicting application's notice) needs COM, and loading those
// libraries with what they stand on (combase, rpcrt4) would otherwise be a
// good part of the start-up before the tray icon.
struct ComLibrary {
    decltype(&::CoInitializeEx) coInitializeEx;
    decltype(&::CoUninitialize) coUninitialize;
    decltype(&::CoInitializeSecurity) coInitializeSecurity;
    decltype(&::CoCreateInstance) coCreateInstance;
    decltype(&::CoSetProxyBlanket) coSetProxyBlanket;
    decltype(&::SysAllocString) sysAllocString;
    decltype(&::SysFreeString) sysFreeString;
    decltype(&::VariantClear) variantClear;
};

// Loads both libraries from the system folder once (any thread); null when
// one of them or one of its functions is missing. They stay loaded.
const ComLibrary* Com();

namespace resource_traits {

struct Bstr {
    using Value = BSTR;
    static Value Empty() { return nullptr; }
    // Only Com() made the value, so the library is there.
    static void Close(Value value) { Com()->sysFreeString(value); }
};

}  // namespace resource_traits

using UniqueBstr = UniqueResource<resource_traits::Bstr>;

// A VARIANT cleared when it goes out of scope.
class UniqueVariant {
public:
    UniqueVariant() { m_value.vt = VT_EMPTY; }
    ~UniqueVariant() { Clear(); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    VARIANT* Put() {
        Clear();
        return &m_value;
    }
    const VARIANT& Get() const { return m_value; }

private:
    // A value other than VT_EMPTY was filled in through COM: the library is there.
    void Clear() {
        if (m_value.vt != VT_EMPTY) {
            Com()->variantClear(&m_value);
        }
    }

    VARIANT m_value;
};

// The calling thread joined to a COM apartment for the life of the object; it
// leaves again only when the join succeeded.
class ComApartment {
public:
    explicit ComApartment(DWORD model)
        : m_joined(Com() != nullptr ? Com()->coInitializeEx(nullptr, model) : CO_E_DLLNOTFOUND) {}
    ~ComApartment() {
        if (SUCCEEDED(m_joined)) {
            Com()->coUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool Joined() const { return SUCCEEDED(m_joined); }

private:
    HRESULT m_joined;
};
