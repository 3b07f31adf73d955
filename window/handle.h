// One owning handle for every kind the tool holds: the handle is closed by
// its traits when the owner goes. No copies; a move hands the handle over.
#pragma once

#include <windows.h>
#include <commctrl.h>

template <typename Traits> class CHandle {
public:
    using Type = typename Traits::Type;

    CHandle() = default;
    explicit CHandle(Type handle)
        : m_handle(handle)
    {
    }
    ~CHandle() { Close(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& other) noexcept
        : m_handle(other.Detach())
    {
    }
    CHandle& operator=(CHandle&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }

    bool IsValid() const { return m_handle != Traits::Invalid(); }
    Type Get() const { return m_handle; }
    // Closes what is held and takes `handle`.
    void Attach(Type handle)
    {
        Close();
        m_handle = handle;
    }
    Type Detach()
    {
        Type handle = m_handle;
        m_handle = Traits::Invalid();
        return handle;
    }
    // True when nothing was held or the close succeeded.
    bool Close() { return !IsValid() || Traits::Close(Detach()); }

private:
    Type m_handle = Traits::Invalid();
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Type handle) { return ::CloseHandle(handle) != FALSE; }
};
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static bool Close(Type handle) { return ::CloseHandle(handle) != FALSE; }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Type handle) { return ::FindClose(handle) != FALSE; }
};
struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static bool Close(Type key) { return ::RegCloseKey(key) == ERROR_SUCCESS; }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static bool Close(Type module) { return ::FreeLibrary(module) != FALSE; }
};
struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type Invalid() { return nullptr; }
    static bool Close(Type images) { return ::ImageList_Destroy(images) != FALSE; }
};

using CFileHandle = CHandle<FileHandleTraits>; // CreateFileW
using CKernelHandle = CHandle<KernelHandleTraits>; // threads, processes, events
using CFindHandle = CHandle<FindHandleTraits>; // FindFirstFileW
using CKeyHandle = CHandle<RegistryKeyTraits>; // RegOpenKeyExW, RegCreateKeyExW
using CModuleHandle = CHandle<ModuleTraits>; // LoadLibraryW
using CImageListHandle = CHandle<ImageListTraits>; // ImageList_Create
