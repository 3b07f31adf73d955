// Longer than the tool's other files, and kept whole: every open, create,
// rename and removal below a root, each checked on its own handle, built on
// the same few calls relative to a folder's handle (openRelative, the rename
// request), which nothing else may reach.
#include "common/files/checked_file.h"

#include "common/cmd/console_path.h"
#include "common/fs/link_check.h"
#include "common/text.h"

#include <winternl.h>
#include <ntstatus.h>

#include <cstring>
#include <vector>

namespace {

constexpr ACCESS_MASK FOLDER_ACCESS = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The rename request with a folder handle; the system's headers keep it to
// the driver kit.
struct RenameRequest {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};

FileFailure ntFailure(NTSTATUS status)
{
    return systemFailure(RtlNtStatusToDosError(status));
}

std::wstring joined(const std::wstring& folder, const std::wstring& name)
{
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

// One entry's name: never a path, nor one that climbs out of its folder.
bool plainName(const std::wstring& name, FileFailure& failure)
{
    if (name.empty() || name == L"." || name == L".." || name.find_first_of(L"\\/:") != std::wstring::npos
        || name.size() > 255) {
        failure = systemFailure(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

NTSTATUS openRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, HANDLE& opened, PSECURITY_DESCRIPTOR descriptor = nullptr)
{
    UNICODE_STRING unicode;
    unicode.Buffer = const_cast<PWSTR>(name.c_str());
    unicode.Length = USHORT(name.size() * sizeof(wchar_t));
    unicode.MaximumLength = unicode.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, folder, descriptor);
    IO_STATUS_BLOCK io = {};
    // Where the system honours it, a link below the folder is opened as
    // itself and shows by its attributes; where not (Wine), by its final path.
    return NtCreateFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                        disposition, options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
}

} // namespace

bool CCheckedEntry::OpenIn(const CCheckedDir& folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                           ULONG disposition, ULONG options, FileFailure& failure, PSECURITY_DESCRIPTOR descriptor,
                           bool oneName)
{
    m_handle.Close();
    m_path = joined(folder.Path(), name);
    if (!folder.IsOpen()) {
        failure = systemFailure(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!plainName(name, failure))
        return false;
    HANDLE opened = INVALID_HANDLE_VALUE;
    const NTSTATUS status = openRelative(folder.Get(), name, access, share, disposition, options, opened, descriptor);
    if (!NT_SUCCESS(status)) {
        failure = ntFailure(status);
        return false;
    }
    m_handle.Attach(opened);
    // A file made here by the folder's handle is new in that folder: the
    // create fails on any name that is taken, a link's included. Folders are
    // checked all the same, for their final path, which their entries'
    // checks compare with.
    const bool file = (options & FILE_NON_DIRECTORY_FILE) != 0;
    if ((file && disposition == FILE_CREATE) || Check(folder, name, file && oneName, failure))
        return true;
    m_handle.Close();
    return false;
}

bool CCheckedEntry::Check(const CCheckedDir& folder, const std::wstring& name, bool file, FileFailure& failure)
{
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(m_handle.Get(), FileBasicInfo, &basic, sizeof basic)) {
        failure = lastSystemFailure();
        return false;
    }
    m_resolved = resolvedPathOf(m_handle.Get());
    // A final path the system cannot tell proves nothing: refused as well.
    if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || m_resolved.empty() || folder.Resolved().empty()
        || !sameIgnoringCase(m_resolved, joined(folder.Resolved(), name))) {
        failure = toolFailure(FILE_CAUSE_LINK);
        failure.path = m_path;
        return false;
    }
    if (!file)
        return true;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(m_handle.Get(), FileStandardInfo, &standard, sizeof standard)) {
        failure = lastSystemFailure();
        return false;
    }
    // (A file being created has one name, and one deleted meanwhile none.)
    if (standard.NumberOfLinks > 1) {
        failure = toolFailure(FILE_CAUSE_SECOND_NAME);
        failure.path = m_path;
        return false;
    }
    return true;
}

bool CCheckedDir::OpenRoot(const std::wstring& path, FileFailure& failure)
{
    m_handle.Close();
    m_path = path;
    while (m_path.size() > 3 && m_path.back() == L'\\')
        m_path.pop_back();
    // Never a folder relative to the current directory.
    if (!isFullPath(m_path)) {
        failure = systemFailure(ERROR_BAD_PATHNAME);
        return false;
    }
    m_handle.Attach(CreateFileW(m_path.c_str(), FOLDER_ACCESS, SHARE_ALL, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_BASIC_INFO basic;
    if (!m_handle.IsValid() || !GetFileInformationByHandleEx(m_handle.Get(), FileBasicInfo, &basic, sizeof basic)) {
        failure = lastSystemFailure();
        m_handle.Close();
        return false;
    }
    m_resolved = resolvedPathOf(m_handle.Get());
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || m_resolved.empty()) {
        failure = systemFailure(!(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_DIRECTORY
                                                                                   : ERROR_BAD_PATHNAME);
        m_handle.Close();
        return false;
    }
    return true;
}

bool CCheckedDir::OpenFolderOf(const std::wstring& path, std::wstring& name, FileFailure& failure)
{
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        failure = systemFailure(ERROR_BAD_PATHNAME);
        return false;
    }
    name = path.substr(slash + 1);
    return OpenRoot(path.substr(0, slash), failure);
}

bool CCheckedDir::OpenIn(const CCheckedDir& parent, const std::wstring& name, FileFailure& failure,
                         ACCESS_MASK extraAccess)
{
    return CCheckedEntry::OpenIn(parent, name, FOLDER_ACCESS | extraAccess, SHARE_ALL, FILE_OPEN,
                                 FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT, failure);
}

bool CCheckedDir::CreateIn(const CCheckedDir& parent, const std::wstring& name, PSECURITY_DESCRIPTOR descriptor,
                           FileFailure& failure)
{
    return CCheckedEntry::OpenIn(parent, name, FOLDER_ACCESS | DELETE | READ_CONTROL, SHARE_ALL, FILE_CREATE,
                                 FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT, failure, descriptor);
}

bool CCheckedDir::RemoveFrom(const CCheckedDir& parent, const std::wstring& name)
{
    // An empty folder only: the system refuses to remove one that holds
    // anything (Wine only when the handle closes, so the parent is asked).
    FILE_DISPOSITION_INFO disposition = { TRUE };
    if (!m_handle.IsValid()
        || !SetFileInformationByHandle(m_handle.Get(), FileDispositionInfo, &disposition, sizeof disposition))
        return false;
    m_handle.Close();
    FileFailure failure;
    return !OpenIn(parent, name, failure, DELETE | READ_CONTROL) && failure.cause == FILE_CAUSE_NOT_FOUND;
}

bool CCheckedDir::OpenBelow(const std::wstring& root, const std::wstring& relative, FileFailure& failure)
{
    if (!OpenRoot(root, failure))
        return false;
    for (size_t start = 0; start < relative.size();) {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos)
            end = relative.size();
        const std::wstring name = relative.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        CCheckedDir next;
        if (!next.OpenIn(*this, name, failure)) {
            m_path = next.m_path; // what failed
            m_handle.Close();
            return false;
        }
        m_handle = std::move(next.m_handle);
        m_path = std::move(next.m_path);
        m_resolved = std::move(next.m_resolved);
    }
    return true;
}

bool CInFile::Open(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure)
{
    // Shared for deleting too: a replacing writer may put its file in place
    // while this one is still open.
    return OpenIn(folder, name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_OPEN,
                  FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, failure);
}

bool CInFile::OpenToRun(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure)
{
    return OpenIn(folder, name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE, failure);
}

bool CInFile::Size(ULONGLONG& size, FileFailure& failure) const
{
    LARGE_INTEGER measured;
    if (!GetFileSizeEx(m_handle.Get(), &measured)) {
        failure = lastSystemFailure();
        return false;
    }
    size = ULONGLONG(measured.QuadPart);
    return true;
}

bool CInFile::Read(void* buffer, DWORD size, DWORD& got, FileFailure& failure) const
{
    got = 0;
    if (ReadFile(m_handle.Get(), buffer, size, &got, nullptr))
        return true;
    failure = lastSystemFailure();
    return false;
}

bool CInFile::Rewind(FileFailure& failure) const
{
    LARGE_INTEGER start = {};
    if (SetFilePointerEx(m_handle.Get(), start, nullptr, FILE_BEGIN))
        return true;
    failure = lastSystemFailure();
    return false;
}

bool COutFile::Create(const CCheckedDir& folder, const std::wstring& name, ACCESS_MASK extraAccess,
                      FileFailure& failure)
{
    return OpenIn(folder, name, GENERIC_WRITE | DELETE | extraAccess, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE, failure);
}

bool COutFile::OpenForAppend(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure)
{
    return OpenIn(folder, name, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, FILE_OPEN_IF,
                  FILE_NON_DIRECTORY_FILE, failure);
}

bool COutFile::OpenToDelete(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure)
{
    // Removing one name of a file with two leaves the other as it was, so a
    // second name is no reason to refuse (a run stopped while a new file had
    // both its names leaves one such).
    return OpenIn(folder, name, DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, FILE_OPEN,
                  FILE_NON_DIRECTORY_FILE, failure, nullptr, false);
}

bool COutFile::TakeLock(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure)
{
    return OpenIn(folder, name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, FILE_OPEN_IF,
                  FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE, failure);
}

namespace {

// The file's number on its volume; 0 when the system cannot say.
LONGLONG fileIdOf(HANDLE handle)
{
    FILE_INTERNAL_INFORMATION internal = {};
    IO_STATUS_BLOCK io = {};
    return NT_SUCCESS(NtQueryInformationFile(handle, &io, &internal, sizeof internal, FileInternalInformation))
               ? internal.IndexNumber.QuadPart
               : 0;
}

// Whether `name` in `folder`, looked up by the folder's handle, is the file
// numbered `id`. (Opened for its attributes alone, which no sharing refuses.)
bool namesFile(const CCheckedDir& folder, const std::wstring& name, LONGLONG id, bool removeIt = false)
{
    HANDLE opened = INVALID_HANDLE_VALUE;
    if (!NT_SUCCESS(openRelative(folder.Get(), name, FILE_READ_ATTRIBUTES | (removeIt ? DELETE : 0), SHARE_ALL,
                                 FILE_OPEN, FILE_NON_DIRECTORY_FILE, opened)))
        return false;
    CFileHandle file(opened);
    const bool same = id != 0 && fileIdOf(file.Get()) == id;
    FILE_DISPOSITION_INFO disposition = { TRUE };
    if (same && removeIt)
        SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof disposition);
    return same;
}

} // namespace

bool COutFile::RenameIn(const CCheckedDir& folder, const std::wstring& name, bool replace, FileFailure& failure)
{
    if (!plainName(name, failure))
        return false;
    const size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(RenameRequest) + bytes);
    auto* request = reinterpret_cast<RenameRequest*>(buffer.data());
    request->replaceIfExists = replace;
    request->rootDirectory = folder.Get();
    request->fileNameLength = ULONG(bytes);
    std::memcpy(request->fileName, name.data(), bytes);
    IO_STATUS_BLOCK io = {};
    const LONGLONG id = fileIdOf(m_handle.Get());
    const std::wstring temporary = m_path.substr(m_path.find_last_of(L'\\') + 1);

    // A new file takes its name as a second name first, which fails on any
    // name that is taken: where the system resolves the request by path
    // (Wine), a folder exchanged for a link during the call cannot make it
    // replace another's file. Then the temporary name goes. A file system
    // without second names is renamed instead.
    NTSTATUS status = STATUS_NOT_SUPPORTED;
    if (!replace && id != 0)
        status = NtSetInformationFile(m_handle.Get(), &io, request, ULONG(buffer.size()), FileLinkInformation);
    if (NT_SUCCESS(status)) {
        if (!namesFile(folder, name, id)) {
            failure = toolFailure(FILE_CAUSE_LINK);
            failure.path = joined(folder.Path(), name);
            return false;
        }
        FileFailure ignored;
        Delete(ignored);
        m_handle.Close();
        // Checked after the fact: Wine removes by the path, which a swapped
        // folder takes elsewhere; the folder's handle still finds the name.
        for (int attempt = 0; attempt < 50 && namesFile(folder, temporary, id, true); ++attempt) {
        }
        m_path = joined(folder.Path(), name);
        return true;
    }
    if (status != STATUS_NOT_SUPPORTED && status != STATUS_INVALID_DEVICE_REQUEST
        && status != STATUS_INVALID_PARAMETER) {
        failure = ntFailure(status);
        return false;
    }
    status = NtSetInformationFile(m_handle.Get(), &io, request, ULONG(buffer.size()), FileRenameInformation);
    if (!NT_SUCCESS(status)) {
        failure = ntFailure(status);
        return false;
    }
    // The proof that the file has the name in this folder: the name, looked
    // up by the folder's handle, is this file. (Without file numbers, its
    // final path.) Nothing is removed under the new name here: Wine removes
    // by the path, which could then be another's file.
    m_path = joined(folder.Path(), name);
    if (id != 0 ? namesFile(folder, name, id) : Check(folder, name, true, failure))
        return true;
    failure = toolFailure(FILE_CAUSE_LINK);
    failure.path = m_path;
    m_handle.Close(); // no longer a file of the tool's to remove
    return false;
}

bool COutFile::Delete(FileFailure& failure)
{
    FILE_DISPOSITION_INFO disposition = { TRUE };
    if (SetFileInformationByHandle(m_handle.Get(), FileDispositionInfo, &disposition, sizeof disposition))
        return true;
    // A read-only file takes its attribute off first, on the same handle.
    FILE_BASIC_INFO basic;
    if (GetFileInformationByHandleEx(m_handle.Get(), FileBasicInfo, &basic, sizeof basic)
        && (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        basic.FileAttributes = (basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
        if (SetFileInformationByHandle(m_handle.Get(), FileBasicInfo, &basic, sizeof basic)
            && SetFileInformationByHandle(m_handle.Get(), FileDispositionInfo, &disposition, sizeof disposition))
            return true;
    }
    failure = lastSystemFailure();
    return false;
}

void removeOwnFile(const CCheckedDir& folder, const std::wstring& name)
{
    // Wine removes a file on its close by the path it resolved when it was
    // opened, which a folder exchanged for a link by then takes elsewhere
    // (removing nothing): each try opens it again by the folder's handle,
    // and the last one finds it gone. Only a handle that passes its check
    // removes anything, so no link's target is ever removed.
    for (int attempt = 0; attempt < 50; ++attempt) {
        COutFile file;
        FileFailure failure;
        if (file.OpenToDelete(folder, name, failure))
            file.Delete(failure);
        else if (failure.cause != FILE_CAUSE_LINK)
            return; // gone, or not ours to remove
    }
}

bool w32RemoveFile(const std::wstring& path)
{
    CCheckedDir folder;
    COutFile file;
    std::wstring name;
    FileFailure failure;
    if (!folder.OpenFolderOf(path, name, failure))
        return failure.cause == FILE_CAUSE_NOT_FOUND || failure.cause == FILE_CAUSE_BAD_PATH;
    if (!file.OpenToDelete(folder, name, failure))
        return failure.cause == FILE_CAUSE_NOT_FOUND;
    return file.Delete(failure);
}

std::wstring checkRefusal(const FileFailure& failure)
{
    if (failure.cause == FILE_CAUSE_LINK)
        return linkRefusal(failure.path);
    if (failure.cause == FILE_CAUSE_SECOND_NAME)
        return failure.path + L" has a second name (a hard link), so it may be another account's file; the tool "
                              L"reads and writes no such file below the installation directories, so nothing was "
                              L"read or written through it";
    return {};
}

const CCheckedDir* CFolderCache::Open(const std::wstring& root, const std::wstring& relative, FileFailure& failure)
{
    const std::wstring key = foldedCase(joined(root, relative));
    const auto known = m_folders.find(key);
    if (known != m_folders.end())
        return known->second.get();
    auto folder = std::make_unique<CCheckedDir>();
    if (!folder->OpenBelow(root, relative, failure))
        return nullptr;
    return (m_folders[key] = std::move(folder)).get();
}
