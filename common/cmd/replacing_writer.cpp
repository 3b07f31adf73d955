#include "common/cmd/replacing_writer.h"

#include "common/fs/link_check.h"
#include "common/trace/trace.h"

#include <algorithm>
#include <atomic>
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

// The `parts` of the security descriptor of the object `handle` holds, into
// `descriptor`; false, with the system's error, when they cannot be read.
bool securityOf(HANDLE handle, SECURITY_INFORMATION parts, std::vector<BYTE>& descriptor)
{
    descriptor.resize(512);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD needed = 0;
        if (GetKernelObjectSecurity(handle, parts, descriptor.data(), DWORD(descriptor.size()), &needed))
            return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size())
            return false;
        descriptor.resize(needed);
    }
    return false;
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

bool ReplacingWriter::Begin(const std::wstring& destination, FileFailure& failure, WriteTo to)
{
    m_destination = destination;

    // For a new file there is nothing to look at: the rename at the end
    // fails when the name is taken by then. (Looking up a missing name costs
    // a search through the directory under Wine, on every look.)
    WIN32_FILE_ATTRIBUTE_DATA old;
    m_replacing = to == WriteTo::AnyFile
                  && GetFileAttributesExW(destination.c_str(), GetFileExInfoStandard, &old) != FALSE;
    if (m_replacing) {
        // A read-only file is not replaced, also where the process could
        // write it anyway (an administrator on some file systems).
        if (old.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
            failure = systemFailure(ERROR_ACCESS_DENIED);
            return false;
        }
        m_oldAttributes = old.dwFileAttributes;
        m_oldCreation = old.ftCreationTime;
    }

    // What opening the destination for writing would meet: a file held
    // open without sharing, a directory. A missing file is fine; a
    // missing directory shows when the temporary file is created. The same
    // handle reads the security descriptor of a file that is replaced: by
    // name that would be an open of its own.
    if (to == WriteTo::AnyFile) {
        CFileHandle probe(CreateFileW(destination.c_str(), GENERIC_WRITE | (m_replacing ? READ_CONTROL : 0),
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (probe.IsValid()) {
            if (m_replacing && !ReadSecurity(probe.Get(), failure))
                return false;
        } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            m_replacing = false; // gone since it was looked at: written as a new file
        } else {
            failure = lastSystemFailure();
            return false;
        }
    }

    static std::atomic<unsigned> counter{0};
    const size_t slash = destination.find_last_of(L"\\/");
    const std::wstring directory = slash == std::wstring::npos ? std::wstring() : destination.substr(0, slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t name[64];
        // The pattern w32RemoveLeftoverTemporaries looks for.
        _snwprintf(name, 63, L"~qm%lx-%x.tmp", GetCurrentProcessId(), counter++);
        name[63] = L'\0';
        m_temporary = directory + name;
        // The creator owns the new file, so READ_CONTROL and WRITE_DAC are
        // its own whatever the file inherits: the old access list is put on
        // through this handle.
        const DWORD access = GENERIC_WRITE | (m_replacing ? READ_CONTROL | WRITE_DAC : 0);
        HANDLE file = CreateFileW(m_temporary.c_str(), access, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            m_file.Attach(file);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    failure = lastSystemFailure();
    m_temporary.clear();
    return false;
}

bool ReplacingWriter::Write(const void* data, size_t size, FileFailure& failure)
{
    return w32WriteAll(m_file.Get(), data, size, failure);
}

bool ReplacingWriter::Commit(FileFailure& failure)
{
    if (m_replacing && !SetFileTime(m_file.Get(), &m_oldCreation, nullptr, nullptr)) {
        failure = lastSystemFailure();
        return false;
    }
    if (!FlushFileBuffers(m_file.Get())) {
        failure = lastSystemFailure();
        return false;
    }
    // The old file's protection is in place before the new content takes
    // its name, so there is no moment when others may read more of it.
    if (m_replacing && !WriteSecurity(failure))
        return false;
    if (!m_file.Close()) {
        failure = lastSystemFailure();
        return false;
    }
    if (m_replacing && !WriteAttributes(failure))
        return false;
    // Without REPLACE_EXISTING for a new file: one that appeared meanwhile
    // is not ours to overwrite.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (m_replacing ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(m_temporary.c_str(), m_destination.c_str(), flags)) {
        failure = lastSystemFailure();
        return false;
    }
    m_temporary.clear();
    return true;
}

bool ReplacingWriter::ReadSecurity(HANDLE destination, FileFailure& failure)
{
    if (securityOf(destination, OWNER_PARTS | DACL_SECURITY_INFORMATION, m_oldSecurity))
        return true;
    // Replacing what cannot be read could open the file to others.
    failure = lastSystemFailure();
    return false;
}

bool ReplacingWriter::WriteSecurity(FileFailure& failure)
{
    auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(m_oldSecurity.data());
    if (!SetKernelObjectSecurity(m_file.Get(), DACL_SECURITY_INFORMATION, descriptor)) {
        failure = lastSystemFailure();
        return false;
    }
    // Owner and group are set only where the new file's differ: that takes
    // WRITE_OWNER, which a creator need not have, so it is done by name.
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
    if (!SetFileSecurityW(m_temporary.c_str(), OWNER_PARTS, descriptor))
        QM_TRACE(TRACE_CAT_UTIL, L"w32 putfile: owner of %s not carried over, error %u\n", m_destination.c_str(),
                 unsigned(GetLastError()));
    return true;
}

bool ReplacingWriter::WriteAttributes(FileFailure& failure)
{
    const DWORD carried = m_oldAttributes & CARRIED_ATTRIBUTES;
    if (carried == 0 || SetFileAttributesW(m_temporary.c_str(), carried | FILE_ATTRIBUTE_ARCHIVE))
        return true;
    failure = lastSystemFailure();
    return false;
}

void ReplacingWriter::Abandon()
{
    m_file.Close();
    if (!m_temporary.empty()) {
        SetFileAttributesW(m_temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(m_temporary.c_str());
        m_temporary.clear();
    }
}

bool w32WriteFileBytes(const std::wstring& path, const std::string& bytes, FileFailure& failure, WriteTo to)
{
    ReplacingWriter writer;
    return writer.Begin(path, failure, to) && writer.Write(bytes.data(), bytes.size(), failure) && writer.Commit(failure);
}

bool w32AppendFileBytes(const std::wstring& path, const std::string& bytes, FileFailure& failure,
                        CFileHandle* keptOpen)
{
    CFileHandle opened;
    CFileHandle& file = keptOpen ? *keptOpen : opened;
    if (!file.IsValid())
        file.Attach(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        failure = lastSystemFailure();
        return false;
    }
    if (!w32WriteAll(file.Get(), bytes.data(), bytes.size(), failure))
        return false;
    if (!FlushFileBuffers(file.Get())) {
        failure = lastSystemFailure();
        return false;
    }
    return true;
}

void w32RemoveLeftoverTemporaries(const std::wstring& directory)
{
    WIN32_FIND_DATAW entry;
    CFindHandle find(FindFirstFileW((directory + L"\\~qm*.tmp").c_str(), &entry));
    if (!find.IsValid())
        return;
    do {
        const std::wstring name = entry.cFileName;
        if (!isTemporaryName(name) || (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        const std::wstring path = directory + L"\\" + name;
        // Opened without sharing, so a writer still at work keeps its file;
        // deleted through the handle, so what is deleted is what was looked at.
        CFileHandle file(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.IsValid() || !reachesEntryItself(file.Get(), directory, name))
            continue;
        FILE_DISPOSITION_INFO disposition = { TRUE };
        if (SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof disposition))
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: removed %s, left by a run that was stopped\n", path.c_str());
    } while (FindNextFileW(find.Get(), &entry));
}
