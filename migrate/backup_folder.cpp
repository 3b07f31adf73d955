#include "migrate/backup_folder.h"

#include "common/files/replacing_writer.h"
#include "common/cmd/system_error.h"
#include "common/fs/owner.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <memory>
#include <new>

const wchar_t BACKUPS_FOLDER[] = L"migration backups";
const wchar_t BACKUP_FOLDER_ACCESS[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

bool backupOwnerTrusted(PSID owner)
{
    // The administrator running the tool owns what an unelevated run of theirs
    // (or, under Wine, every run) made.
    return isAdministratorsOrSystem(owner) || isRunningAccount(owner);
}


bool createProtectedFolder(CCheckedDir& folder, const CCheckedDir& parent, const std::wstring& name,
                           FileFailure& failure)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(BACKUP_FOLDER_ACCESS, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        failure = lastSystemFailure();
        return false;
    }
    const bool made = folder.CreateIn(parent, name, descriptor, failure);
    LocalFree(descriptor);
    return made;
}

bool existingFolderUsable(CCheckedDir& folder, const CCheckedDir& gaDirectory, std::wstring& reason)
{
    const std::wstring parent = gaDirectory.Path() + L"\\" + BACKUPS_FOLDER;
    FileFailure failure;
    if (!folder.OpenIn(gaDirectory, BACKUPS_FOLDER, failure, READ_CONTROL | DELETE)) {
        reason = failure.cause == FILE_CAUSE_LINK
            ? L"the backup folder " + parent + L" is a link; the tool keeps no backup through a link. Check who "
              L"made it and remove it; nothing was replaced"
            : L"cannot open the backup folder " + parent + L": " + describeFileFailure(failure) + L" Nothing was replaced";
        return false;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetSecurityInfo(folder.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                       nullptr, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) {
        reason = L"the owner of the backup folder " + parent + L" cannot be read (" + systemErrorText(read)
            + L"); nothing was replaced";
        return false;
    }
    const bool trusted = backupOwnerTrusted(owner);
    if (!trusted)
        reason = L"the backup folder " + parent + L" belongs to " + accountName(owner)
            + L", not to Administrators or SYSTEM, so someone else may have made it or may change what is kept "
              L"there. Check it, move it away, and migrate again; nothing was replaced";
    LocalFree(descriptor);
    return trusted;
}

bool copyOpenFile(const CInFile& from, const CCheckedDir& into, const std::wstring& name, FileFailure& failure)
{
    COutFile copy;
    FILE_BASIC_INFO times;
    if (!from.Rewind(failure) || !copy.Create(into, name, 0, failure))
        return false;
    // A block no larger than the file: under Wine a read touches every page
    // of the buffer it is given, and most kept files are small.
    ULONGLONG size = 0;
    bool ok = from.Size(size, failure);
    const DWORD piece = DWORD(std::min<ULONGLONG>(std::max<ULONGLONG>(size, 1), IO_CHUNK));
    std::unique_ptr<char[]> block(ok ? new (std::nothrow) char[piece] : nullptr);
    if (ok && !block) {
        failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
        ok = false;
    }
    for (DWORD got = 1; ok && got > 0;)
        ok = from.Read(block.get(), piece, got, failure) && w32WriteAll(copy.Get(), block.get(), got, failure);
    if (ok && GetFileInformationByHandleEx(from.Get(), FileBasicInfo, &times, sizeof times)) {
        times.FileAttributes = 0;
        SetFileInformationByHandle(copy.Get(), FileBasicInfo, &times, sizeof times);
    }
    ok = from.Rewind(failure) && ok;
    if (!ok) {
        FileFailure ignored;
        copy.Delete(ignored);
    }
    return ok;
}

bool copyFileInto(const std::wstring& path, const CCheckedDir& into, const std::wstring& name, FileFailure& failure)
{
    CCheckedDir folder;
    CInFile from;
    std::wstring fromName;
    return folder.OpenFolderOf(path, fromName, failure) && from.Open(folder, fromName, failure)
        && copyOpenFile(from, into, name, failure);
}

