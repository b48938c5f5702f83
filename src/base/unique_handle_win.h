// Owners of what the Win32 API hands out: each releases its value when it goes
// out of scope, so every return path gives back what it took.
#pragma once

#include <windows.h>

#include <utility>

// Owns one value of the kind `Traits` describes: `Traits::Empty()` owns
// nothing and `Traits::Close(value)` releases a value.
template <typename Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : m_value(value) {}
    ~UniqueResource() { Reset(); }
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Value Get() const { return m_value; }
    explicit operator bool() const { return m_value != Traits::Empty(); }

    // Releases what is owned and gives the address for the API to store a new
    // value through.
    Value* Put() {
        Reset();
        return &m_value;
    }

    // Gives the value up without releasing it.
    Value Release() { return std::exchange(m_value, Traits::Empty()); }

    void Reset(Value value = Traits::Empty()) {
        const Value old = std::exchange(m_value, value);
        if (old != Traits::Empty()) {
            Traits::Close(old);
        }
    }

private:
    Value m_value = Traits::Empty();
};

namespace resource_traits {

// Kernel objects that report failure as null: events, tokens, threads, processes.
struct KernelHandle {
    using Value = HANDLE;
    static Value Empty() { return nullptr; }
    static void Close(Value value) { ::CloseHandle(value); }
};

// Files and pipes, which report failure as INVALID_HANDLE_VALUE.
struct FileHandle {
    using Value = HANDLE;
    static Value Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Value value) { ::CloseHandle(value); }
};

struct RegistryKey {
    using Value = HKEY;
    static Value Empty() { return nullptr; }
    static void Close(Value value) { ::RegCloseKey(value); }
};

// Memory the system allocated for the caller to release with LocalFree.
template <typename Pointer>
struct LocalMemory {
    using Value = Pointer;
    static Value Empty() { return nullptr; }
    static void Close(Value value) { ::LocalFree(reinterpret_cast<HLOCAL>(value)); }
};

// A SID from AllocateAndInitializeSid.
struct AllocatedSid {
    using Value = PSID;
    static Value Empty() { return nullptr; }
    static void Close(Value value) { ::FreeSid(value); }
};

}  // namespace resource_traits

using UniqueHandle = UniqueResource<resource_traits::KernelHandle>;
using UniqueFileHandle = UniqueResource<resource_traits::FileHandle>;
using UniqueRegKey = UniqueResource<resource_traits::RegistryKey>;
template <typename Pointer>
using UniqueLocal = UniqueResource<resource_traits::LocalMemory<Pointer>>;
using UniqueSid = UniqueResource<resource_traits::AllocatedSid>;
