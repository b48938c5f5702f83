// COM at the OS boundary: interface pointers held by the SDK's ComPtr (which
// MinGW-w64 carries as well), owners of BSTR and VARIANT values, and the
// thread's COM apartment joined for a scope.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "base/unique_handle_win.h"

template <typename Interface>
using ComPtr = Microsoft::WRL::ComPtr<Interface>;

namespace resource_traits {

struct Bstr {
    using Value = BSTR;
    static Value Empty() { return nullptr; }
    static void Close(Value value) { ::SysFreeString(value); }
};

}  // namespace resource_traits

using UniqueBstr = UniqueResource<resource_traits::Bstr>;

// A VARIANT cleared when it goes out of scope.
class UniqueVariant {
public:
    UniqueVariant() { ::VariantInit(&m_value); }
    ~UniqueVariant() { ::VariantClear(&m_value); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    VARIANT* Put() {
        ::VariantClear(&m_value);
        return &m_value;
    }
    const VARIANT& Get() const { return m_value; }

private:
    VARIANT m_value;
};

// The calling thread joined to a COM apartment for the life of the object; it
// leaves again only when the join succeeded.
class ComApartment {
public:
    explicit ComApartment(DWORD model) : m_joined(::CoInitializeEx(nullptr, model)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_joined)) {
            ::CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool Joined() const { return SUCCEEDED(m_joined); }

private:
    HRESULT m_joined;
};
