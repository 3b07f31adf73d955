#include "common/fs/link_check.h"

#include "common/text.h"

#include "window/handle.h"

#include <vector>

namespace {


// Opened for nothing but its attributes and its name; directories too.
CFileHandle openEntry(const std::wstring& path)
{
    return CFileHandle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

std::wstring resolvedPath(const std::wstring& path)
{
    CFileHandle entry = openEntry(path);
    return entry.IsValid() ? resolvedPathOf(entry.Get()) : std::wstring();
}

std::wstring withoutTrailingBackslash(std::wstring path)
{
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

std::wstring joined(const std::wstring& directory, const std::wstring& name)
{
    return !directory.empty() && directory.back() == L'\\' ? directory + name : directory + L"\\" + name;
}

} // namespace

std::wstring resolvedPathOf(HANDLE handle)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
                return L"\\\\" + path.substr(8);
            if (path.compare(0, 4, L"\\\\?\\") == 0)
                return withoutTrailingBackslash(path.substr(4));
            return withoutTrailingBackslash(path);
        }
        buffer.resize(length + 1);
    }
    return {};
}

namespace {

// reachesEntryItself for a directory already resolved; `where` receives the
// handle's resolved path.
bool reachesEntryBelow(HANDLE handle, const std::wstring& resolvedDirectory, const std::wstring& name,
                       std::wstring& where)
{
    // The attributes alone: GetFileInformationByHandle also asks for the
    // volume's serial number, which under Wine is a round trip to the mount
    // manager costing more than everything else here together.
    FILE_BASIC_INFO information;
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &information, sizeof information)
        && (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    where = resolvedPathOf(handle);
    // Where the system cannot say, nothing shows a link.
    if (where.empty() || resolvedDirectory.empty())
        return true;
    return sameIgnoringCase(where, joined(resolvedDirectory, name));
}

} // namespace

bool reachesEntryItself(HANDLE handle, const std::wstring& directory, const std::wstring& name)
{
    std::wstring where;
    return reachesEntryBelow(handle, resolvedPath(directory), name, where);
}

std::wstring linkRefusal(const std::wstring& path)
{
    return path + L" is a link (or a name the file system takes elsewhere); the tool follows no link below the "
                  L"installation directories, so nothing was read or written through it";
}
