#include "common/files/replacing_writer.h"

#include "common/fs/owner.h"
#include "common/trace/trace.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

// Attributes a replacement carries over from the file it replaces. ARCHIVE
// stays set as on any new file: the content did change.
constexpr DWORD CARRIED_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

constexpr SECURITY_INFORMATION OWNER_PARTS = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;

// ~qm<hex>-<hex>.tmp, the replacing writer's names, and nothing else.
bool isTemporaryName(const std::wstring& name)
{
    auto hexRun = [&name](size_t from, wchar_t end) {
        size_t at = from;
        while (at < name.size() && iswxdigit(name[at]))
            ++at;
        return at > from && at < name.size() && name[at] == end ? at : std::wstring::npos;
    };
    if (name.size() < 10 || name.compare(0, 3, L"~qm") != 0)
        return false;
    const size_t dash = hexRun(3, L'-');
    if (dash == std::wstring::npos)
        return false;
    const size_t dot = hexRun(dash + 1, L'.');
    return dot != std::wstring::npos && name.compare(dot, std::wstring::npos, L".tmp") == 0;
}

} // namespace

bool w32WriteAll(HANDLE file, const void* data, size_t size, FileFailure& failure)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        DWORD piece = DWORD(std::min<size_t>(size, IO_CHUNK));
        DWORD written = 0;
        if (!WriteFile(file, at, piece, &written, nullptr)) {
            failure = lastSystemFailure();
            return false;
        }
        if (written == 0) {
            failure = systemFailure(ERROR_WRITE_FAULT);
            return false;
        }
        at += written;
        size -= written;
    }
    return true;
}

bool CReplacingWriter::Begin(const std::wstring& destination, FileFailure& failure, WriteTo to)
{
    std::wstring name;
    return m_ownFolder.OpenFolderOf(destination, name, failure) && Begin(m_ownFolder, name, failure, to);
}

bool CReplacingWriter::Begin(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure, WriteTo to,
                            const CInFile* existing)
{
    m_folder = &folder;
    m_name = name;
    m_replacing = false;
    m_carrying = false;

    // For a new file there is nothing to look at: the rename at the end
    // fails when the name is taken by then. (Looking up a missing name costs
    // a search through the directory under Wine, on every look.)
    if (existing && existing->IsOpen()) {
        if (!TakeOldFile(*existing, to, failure))
            return false;
    } else if (to != WriteTo::NewFile) {
        // What opening the destination for writing would meet: a file held
        // open without sharing, a directory, a link. A missing file is fine.
        CInFile old;
        if (old.Open(folder, name, failure)) {
            if (!TakeOldFile(old, to, failure))
                return false;
        } else if (failure.cause != FILE_CAUSE_NOT_FOUND) {
            return false;
        }
    }

    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t temporary[64];
        // The pattern w32RemoveLeftoverTemporaries looks for.
        _snwprintf(temporary, 63, L"~qm%lx-%x.tmp", GetCurrentProcessId(), counter++);
        temporary[63] = L'\0';
        m_temporary = temporary;
        // The creator owns the new file, so READ_CONTROL and WRITE_DAC are
        // its own whatever the file inherits: the old access list is put on
        // through this handle. Another owner needs WRITE_OWNER, which the
        // folder's list may not grant.
        const ACCESS_MASK own = m_carrying ? READ_CONTROL | WRITE_DAC : 0;
        m_mayOwn = m_carrying;
        bool created = m_file.Create(folder, temporary, own | (m_mayOwn ? WRITE_OWNER : 0), failure);
        if (!created && m_mayOwn && failure.cause == FILE_CAUSE_ACCESS_DENIED) {
            m_mayOwn = false;
            created = m_file.Create(folder, temporary, own, failure);
        }
        if (created)
            return true;
        if (failure.osError != ERROR_FILE_EXISTS && failure.osError != ERROR_ALREADY_EXISTS)
            break;
    }
    return false;
}

bool CReplacingWriter::TakeOldFile(const CCheckedEntry& old, WriteTo to, FileFailure& failure)
{
    m_replacing = false;
    m_carrying = false;
    if (!GetFileInformationByHandleEx(old.Get(), FileBasicInfo, &m_old, sizeof m_old)) {
        failure = lastSystemFailure();
        return false;
    }
    // A read-only file is not replaced, also where the process could
    // write it anyway (an administrator on some file systems).
    if (m_old.FileAttributes & FILE_ATTRIBUTE_READONLY) {
        failure = systemFailure(ERROR_ACCESS_DENIED);
        return false;
    }
    // Replacing what cannot be read could open the file to others.
    if (!securityOf(old.Get(), OWNER_PARTS | DACL_SECURITY_INFORMATION, m_oldSecurity)) {
        failure = lastSystemFailure();
        return false;
    }
    m_replacing = true;
    m_carrying = true;
    if (to == WriteTo::OwnFile) {
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        GetSecurityDescriptorOwner(m_oldSecurity.data(), &owner, &defaulted);
        if (!isAdministratorsOrSystem(owner)) {
            m_carrying = false;
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: %s belongs to %s, not to Administrators or SYSTEM: it is "
                                    L"replaced by a new file with the folder's access list\n",
                     old.Path().c_str(), accountName(owner).c_str());
        }
    }
    return true;
}

bool CReplacingWriter::Write(const void* data, size_t size, FileFailure& failure)
{
    m_written.Add(data, size);
    if (!w32WriteAll(m_file.Get(), data, size, failure))
        return false;
    m_behind.Written(m_file.Get(), size);
    return true;
}

bool CReplacingWriter::Flush(FileFailure& failure)
{
    if (m_carrying) {
        // The old creation time and the attributes it carries, on the handle.
        FILE_BASIC_INFO basic = {};
        basic.CreationTime = m_old.CreationTime;
        basic.FileAttributes = (m_old.FileAttributes & CARRIED_ATTRIBUTES) ? (m_old.FileAttributes & CARRIED_ATTRIBUTES)
                                                                              | FILE_ATTRIBUTE_ARCHIVE
                                                                        : 0;
        if (!SetFileInformationByHandle(m_file.Get(), FileBasicInfo, &basic, sizeof basic)) {
            failure = lastSystemFailure();
            return false;
        }
    }
    if (!m_behind.Stop(failure))
        return false;
    if (!FlushFileBuffers(m_file.Get())) {
        failure = lastSystemFailure();
        return false;
    }
    // The old file's protection is in place before the new content takes
    // its name, so there is no moment when others may read more of it.
    return !m_carrying || WriteSecurity(failure);
}

bool CReplacingWriter::Put(FileFailure& failure)
{
    // Over an existing file only when one was found: one that appeared
    // meanwhile is not ours to overwrite.
    if (!m_file.RenameIn(*m_folder, m_name, m_replacing, failure))
        return false;
    if (!m_file.Close()) {
        failure = lastSystemFailure();
        return false;
    }
    return true;
}

bool CReplacingWriter::WriteSecurity(FileFailure& failure)
{
    auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(m_oldSecurity.data());
    if (!SetKernelObjectSecurity(m_file.Get(), DACL_SECURITY_INFORMATION, descriptor)) {
        failure = lastSystemFailure();
        return false;
    }
    // Owner and group are set only where the new file's differ.
    std::vector<BYTE> ownParts;
    const bool ownRead = securityOf(m_file.Get(), OWNER_PARTS, ownParts);
    auto same = [&](BOOL (WINAPI *part)(PSECURITY_DESCRIPTOR, PSID*, LPBOOL)) {
        PSID mine = nullptr;
        PSID old = nullptr;
        BOOL defaulted = FALSE;
        return ownRead && part(ownParts.data(), &mine, &defaulted) && part(descriptor, &old, &defaulted)
               && mine && old && EqualSid(mine, old);
    };
    if (same(GetSecurityDescriptorOwner) && same(GetSecurityDescriptorGroup))
        return true;
    // Another owner takes a privilege the process may not hold; the new
    // file is then ours, but its access list is the old one all the same.
    if (!m_mayOwn || !SetKernelObjectSecurity(m_file.Get(), OWNER_PARTS, descriptor))
        QM_TRACE(TRACE_CAT_UTIL, L"w32 putfile: owner of %s not carried over, error %u\n", m_file.Path().c_str(),
                 unsigned(m_mayOwn ? GetLastError() : ERROR_ACCESS_DENIED));
    return true;
}

void CReplacingWriter::Abandon()
{
    FileFailure ignored;
    m_behind.Stop(ignored); // its thread uses the handle
    if (!m_file.IsOpen())
        return;
    m_file.Delete(ignored);
    m_file.Close();
    // Checked after the fact: the close may not have removed it.
    removeOwnFile(*m_folder, m_temporary);
}

bool w32WriteFileBytes(const std::wstring& path, const std::string& bytes, FileFailure& failure, WriteTo to)
{
    CReplacingWriter writer;
    return writer.Begin(path, failure, to) && writer.Write(bytes.data(), bytes.size(), failure) && writer.Commit(failure);
}

void w32RemoveLeftoverTemporaries(const CCheckedDir& folder)
{
    // The folder's own handle is read, not its name again.
    std::vector<BYTE> buffer(64u << 10);
    FILE_INFO_BY_HANDLE_CLASS pass = FileIdBothDirectoryRestartInfo;
    std::vector<std::wstring> names;
    while (GetFileInformationByHandleEx(folder.Get(), pass, buffer.data(), DWORD(buffer.size()))) {
        pass = FileIdBothDirectoryInfo;
        for (size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (isTemporaryName(name)
                && !(entry->FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                names.push_back(name);
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
    for (const std::wstring& name : names) {
        // Opened without sharing, so a writer still at work keeps its file;
        // deleted through the handle, so what is deleted is what was looked at.
        COutFile file;
        FileFailure failure;
        if (file.OpenToDelete(folder, name, failure) && file.Delete(failure))
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: removed %s, left by a run that was stopped\n",
                     file.Path().c_str());
    }
}
