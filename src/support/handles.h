// Move-only owners for the Win32 handles the program holds, so that every
// handle, key, search, mapping, library and GDI object is released on every
// path without cleanup code copied onto each early return.
#pragma once

#include <windows.h>

template <typename Traits>
class Owned {
public:
    using Type = typename Traits::Type;

    Owned() = default;
    explicit Owned(Type value) : value_(value) {}
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    Owned(Owned &&other) noexcept : value_(other.Release()) {}
    Owned &operator=(Owned &&other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~Owned() { Reset(); }

    Type Get() const { return value_; }
    bool Valid() const { return Traits::Valid(value_); }
    explicit operator bool() const { return Valid(); }

    // Gives up ownership, for a handle that another owner takes over
    // (SetSystemCursor, for one, takes the cursor it is given).
    Type Release()
    {
        Type value = value_;
        value_ = Type{};
        return value;
    }
    void Reset(Type value = Type{})
    {
        if (Traits::Valid(value_)) Traits::Close(value_);
        value_ = value;
    }
    // For calls that hand a handle out through a pointer (RegOpenKeyExA).
    Type *Receive()
    {
        Reset();
        return &value_;
    }

private:
    Type value_{};
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static bool Valid(HKEY k) { return k != nullptr; }
    static void Close(HKEY k) { RegCloseKey(k); }
};
struct LibraryTraits {
    using Type = HMODULE;
    static bool Valid(HMODULE m) { return m != nullptr; }
    static void Close(HMODULE m) { FreeLibrary(m); }
};
struct ViewTraits {
    using Type = void *;
    static bool Valid(void *v) { return v != nullptr; }
    static void Close(void *v) { UnmapViewOfFile(v); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static bool Valid(HGDIOBJ o) { return o != nullptr; }
    static void Close(HGDIOBJ o) { DeleteObject(o); }
};
struct IconTraits {
    using Type = HICON;
    static bool Valid(HICON i) { return i != nullptr; }
    static void Close(HICON i) { DestroyIcon(i); }
};

using OwnedHandle = Owned<KernelHandleTraits>;
using OwnedFind = Owned<FindHandleTraits>;
using OwnedKey = Owned<RegKeyTraits>;
using OwnedLibrary = Owned<LibraryTraits>;
using OwnedView = Owned<ViewTraits>;
using OwnedGdiObject = Owned<GdiObjectTraits>;
using OwnedIcon = Owned<IconTraits>;
