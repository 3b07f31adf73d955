#include "migrate/backup_restore.h"

#include "common/files/checked_file.h"
#include "common/files/fingerprint.h"
#include "common/cmd/console_names.h"
#include "common/cmd/registry_key.h"
#include "common/files/replacing_writer.h"
#include "common/files/text_file.h"
#include "common/text.h"
#include "common/trace/trace.h"
#include "migrate/key_restore.h"
#include "migrate/registry_tree.h"

#include <algorithm>
#include <memory>
#include <new>
#include <set>
#include <vector>

namespace {

const wchar_t LIST_FILE[] = L"restore.lst";
const wchar_t REGISTRY_FILE[] = L"Console.reg";
constexpr DWORD BLOCK = 256u << 10;

std::wstring& restoreProgramOverride()
{
    static std::wstring path;
    return path;
}

std::wstring parentOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring nameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring why(const FileFailure& failure)
{
    const std::wstring refusal = checkRefusal(failure);
    return refusal.empty() ? describeFileFailure(failure) : refusal + L".";
}

// A block for reading a file of `size` bytes: no larger than the file, as
// under Wine a read touches every page of the buffer it is given.
DWORD pieceFor(ULONGLONG size)
{
    return DWORD(std::min<ULONGLONG>(std::max<ULONGLONG>(size, 1), BLOCK));
}

// Whether both open files hold the same bytes, read from their starts.
bool sameContent(const CInFile& a, const CInFile& b, FileFailure& failure)
{
    ULONGLONG sizeA = 0, sizeB = 0;
    if (!a.Size(sizeA, failure) || !b.Size(sizeB, failure) || !a.Rewind(failure) || !b.Rewind(failure))
        return false;
    if (sizeA != sizeB)
        return false;
    const DWORD piece = pieceFor(sizeA);
    std::unique_ptr<char[]> blockA(new char[piece]), blockB(new char[piece]);
    for (;;) {
        DWORD gotA = 0, gotB = 0;
        if (!a.Read(blockA.get(), piece, gotA, failure) || !b.Read(blockB.get(), piece, gotB, failure))
            return false;
        if (gotA != gotB || memcmp(blockA.get(), blockB.get(), gotA) != 0)
            return false;
        if (gotA == 0)
            return true;
    }
}

// One line of restore.lst: kind|copy|destination|end.
struct Entry {
    std::wstring kind, copy, destination;
};

class CRestore {
public:
    CRestore(const std::wstring& folder, const RestoreSay& say)
        : m_folder(folder)
        , m_gaDirectory(parentOf(parentOf(folder)))
        , m_say(say)
    {
    }

    bool Run()
    {
        m_say(L"Restoring the 5.2.2 installation as it was before the migration of " + nameOf(m_folder) + L".");
        std::vector<Entry> entries;
        if (!ReadList(entries))
            return Finish();
        // A file recorded as created that did not take its name is not the run's.
        std::set<std::wstring> unwritten;
        for (const Entry& entry : entries)
            if (entry.kind == L"unwritten")
                unwritten.insert(foldedCase(entry.destination));
        bool registry = false;
        for (const Entry& entry : entries) {
            if (entry.kind == L"copy")
                CopyBack(entry);
            else if (entry.kind == L"new" && !unwritten.count(foldedCase(entry.destination)))
                RemoveCreated(entry);
            else if (entry.kind == L"registry")
                registry = true;
            else if (entry.kind == L"unchanged")
                registry = false; // the import changed nothing: no key was kept
        }
        SweepTemporaries();
        if (registry)
            RestoreKey();
        return Finish();
    }

private:
    void Error(const std::wstring& text)
    {
        m_failed = true;
        m_say(L"ERROR: " + text);
    }

    bool ReadList(std::vector<Entry>& entries)
    {
        // No list: the run stopped before it kept anything.
        FileFailure failure;
        CInFile list;
        std::string bytes;
        if (!m_backup.OpenRoot(m_folder, failure)
            || (!list.Open(m_backup, LIST_FILE, failure) && failure.cause != FILE_CAUSE_NOT_FOUND)
            || (list.IsOpen() && !w32ReadAllBytes(list, bytes, failure))) {
            Error(L"the backup's list " + m_folder + L"\\" + LIST_FILE + L" cannot be read: " + why(failure)
                  + L" Nothing was restored.");
            return false;
        }
        std::wstring text;
        if (!bytes.empty()) {
            const int units = MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
            text.resize(size_t(units > 0 ? units : 0));
            if (units > 0)
                MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), int(bytes.size()), &text[0], units);
        }
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find(L'\n', at);
            end = end == std::wstring::npos ? text.size() : end;
            std::wstring line = text.substr(at, end - at);
            at = end + 1;
            if (!line.empty() && line.back() == L'\r')
                line.pop_back();
            // A line without its end was being written when the run stopped,
            // before its file was touched.
            std::vector<std::wstring> fields;
            for (size_t start = 0;;) {
                const size_t bar = line.find(L'|', start);
                fields.push_back(line.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start));
                if (bar == std::wstring::npos)
                    break;
                start = bar + 1;
            }
            if (fields.size() == 4 && fields[3] == L"end")
                entries.push_back({ fields[0], fields[1], fields[2] });
        }
        return true;
    }

    // The folder of `destination`, reached by handle from the 5.2.2
    // installation directory (or the web site directory outside it).
    const CCheckedDir* DestinationFolder(const std::wstring& destination, FileFailure& failure)
    {
        const std::wstring root = m_gaDirectory + L"\\";
        std::wstring trusted = parentOf(destination), relative;
        if (startsWithIgnoringCase(destination, root)) {
            trusted = m_gaDirectory;
            relative = parentOf(destination.substr(root.size()));
        }
        const CCheckedDir* folder = m_folders.Open(trusted, relative, failure);
        if (folder && m_swept.insert(foldedCase(folder->Path())).second)
            m_sweep.push_back(folder);
        return folder;
    }

    void CopyBack(const Entry& entry)
    {
        const std::wstring& target = entry.destination;
        FileFailure failure;
        const std::wstring copyPath = m_folder + L"\\" + entry.copy;
        const CCheckedDir* keptFolder = m_folders.Open(m_folder, parentOf(entry.copy), failure);
        CInFile kept;
        if (!keptFolder || !kept.Open(*keptFolder, nameOf(entry.copy), failure)) {
            Error(L"the kept copy " + copyPath + L" cannot be read: " + why(failure) + L" \"" + target
                  + L"\" was left as it is.");
            return;
        }
        const CCheckedDir* folder = DestinationFolder(target, failure);
        if (!folder) {
            Error(L"\"" + target + L"\" was not restored: " + why(failure));
            return;
        }
        CReplacingWriter writer;
        ULONGLONG size = 0;
        bool ok = kept.Size(size, failure) && writer.Begin(*folder, nameOf(target), failure);
        const DWORD piece = pieceFor(size);
        std::unique_ptr<char[]> block(new char[piece]);
        for (DWORD got = 1; ok && got > 0;)
            ok = kept.Read(block.get(), piece, got, failure) && writer.Write(block.get(), got, failure);
        if (!ok || !writer.Commit(failure)) {
            Error(L"could not copy \"" + target + L"\" back from the backup: " + why(failure));
            return;
        }
        // The proof: the file its name reaches now is the kept one.
        CInFile now;
        if (!now.Open(*folder, nameOf(target), failure) || !sameContent(now, kept, failure)) {
            Error(L"\"" + target + L"\" does not hold what the backup kept after it was copied back.");
            return;
        }
        m_say(L"Restored \"" + target + L"\".");
    }

    void RemoveCreated(const Entry& entry)
    {
        const std::wstring& target = entry.destination;
        FileFailure failure;
        const CCheckedDir* folder = DestinationFolder(target, failure);
        COutFile created;
        if (folder && !created.OpenToDelete(*folder, nameOf(target), failure) && failure.cause == FILE_CAUSE_NOT_FOUND) {
            m_say(L"Removed \"" + target + L"\", which the migration created.");
            return;
        }
        // Only a plain file goes: a directory or a link now standing under
        // the name is not what the migration made.
        CCheckedDir directory;
        FileFailure ignored;
        if (folder && !created.IsOpen() && directory.OpenIn(*folder, nameOf(target), ignored)) {
            Error(L"\"" + target + L"\" is now a directory, not the file the migration created; it was left as it is.");
            return;
        }
        if (!folder || !created.IsOpen()) {
            Error(L"\"" + target + L"\", which the migration created, was left as it is: " + why(failure));
            return;
        }
        // The file the run wrote holds what it recorded ("-": a list that
        // recorded nothing); another's file of the name, made after a write
        // that never took its name, or one changed since, stays.
        std::wstring fingerprint;
        if (entry.copy != L"-" && (!w32FingerprintOf(created.Get(), fingerprint, failure, CFingerprint::StyleOf(entry.copy))
                                     || fingerprint != entry.copy)) {
            Error(L"\"" + target + L"\" is not the file the migration created (it was changed since, or made by "
                  L"someone else); it was left as it is.");
            return;
        }
        if (!created.Delete(failure)) {
            Error(L"\"" + target + L"\", which the migration created, could not be removed: " + why(failure));
            return;
        }
        created.Close();
        CInFile gone;
        if (gone.Open(*folder, nameOf(target), failure) || failure.cause != FILE_CAUSE_NOT_FOUND) {
            Error(L"\"" + target + L"\", which the migration created, is still there.");
            return;
        }
        m_say(L"Removed \"" + target + L"\", which the migration created.");
    }

    // What a stopped run left where it writes: the folders of the entries,
    // and the installation's own, the "zelt" folder and the web site.
    void SweepTemporaries()
    {
        FileFailure failure;
        std::vector<std::wstring> more { m_gaDirectory + L"\\zelt\\~" };
        std::wstring site;
        CRegistryKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, GA_SETTINGS_SUBKEY) == ERROR_SUCCESS
            && key.QueryString(L"WebSiteLocalPath", site) == ERROR_SUCCESS && !site.empty())
            more.push_back(site + L"\\~");
        more.push_back(m_gaDirectory + L"\\~");
        for (const std::wstring& probe : more)
            DestinationFolder(probe, failure);
        for (const CCheckedDir* folder : m_sweep)
            w32RemoveLeftoverTemporaries(*folder);
    }

    void RestoreKey()
    {
        const std::wstring key = GA_SETTINGS_KEY;
        FileFailure failure;
        CInFile file;
        std::string bytes;
        if (!file.Open(m_backup, REGISTRY_FILE, failure) || !w32ReadAllBytes(file, bytes, failure)) {
            Error(L"\"" + m_folder + L"\\" + REGISTRY_FILE + L"\" cannot be read (" + why(failure)
                  + L"), so the registry key " + key + L" was left as it is.");
            return;
        }
        RegistryTree kept;
        std::wstring unreadable;
        const bool marked = w32StartsWithUtf16Mark(bytes);
        const std::wstring text = marked ? std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2),
                                                        (bytes.size() - 2) / sizeof(wchar_t))
                                         : std::wstring();
        if (!marked || !parseRegistrationText(text, kept, unreadable) || kept.empty()
            || !sameIgnoringCase(kept.front().path, key)) {
            Error(L"\"" + m_folder + L"\\" + REGISTRY_FILE + L"\" does not hold the registry key " + key
                  + (unreadable.empty() ? L"" : L" (" + unreadable + L")") + L", so the key was left as it is.");
            return;
        }
        std::vector<std::wstring> problems;
        if (restoreKeyByDifference(GA_SETTINGS_SUBKEY, kept, problems)) {
            m_say(L"Put back the registry key " + key + L" as it was, from " + REGISTRY_FILE + L".");
            return;
        }
        for (const std::wstring& problem : problems)
            Error(L"the registry key " + key + L" is not back as it was: " + problem + L".");
    }

    bool Finish()
    {
        m_say(L"");
        if (m_failed)
            m_say(L"Restore FAILED in the steps marked ERROR above. The backup is left as it is; restore.cmd can be "
                  L"run again.");
        else
            m_say(L"Done: the 5.2.2 installation is back as it was before the migration of " + nameOf(m_folder)
                  + L".");
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: restore from %s %s\n", m_folder.c_str(),
                 m_failed ? L"failed" : L"done");
        return !m_failed;
    }

    std::wstring m_folder;
    std::wstring m_gaDirectory;
    const RestoreSay& m_say;
    CCheckedDir m_backup;
    CFolderCache m_folders;
    std::set<std::wstring> m_swept;
    std::vector<const CCheckedDir*> m_sweep;
    bool m_failed = false;
};

} // namespace

const wchar_t RUN_LOCK_FILE[] = L"quarnrept_migrate.lock";

bool takeRunLock(const CCheckedDir& backups, COutFile& lock, std::wstring& reason)
{
    if (lock.IsOpen())
        return true;
    FileFailure failure;
    if (lock.TakeLock(backups, RUN_LOCK_FILE, failure))
        return true;
    const std::wstring path = backups.Path() + L"\\" + RUN_LOCK_FILE;
    reason = failure.osError == ERROR_SHARING_VIOLATION
        ? L"another copy of quarnrept_migrate is migrating or restoring this installation: it holds " + path + L"."
        : L"cannot take the lock " + path + L": " + describeFileFailure(failure);
    return false;
}

bool restoreFromBackup(const std::wstring& folder, const RestoreSay& say)
{
    std::wstring full = folder;
    // restore.cmd names its own folder as "%~dp0.", the one spelling cmd can
    // end inside quotes.
    while (full.size() > 3 && (full.back() == L'\\' || (full.back() == L'.' && full[full.size() - 2] == L'\\')))
        full.pop_back();
    // Held until the restore has proved everything: no migration or other
    // restore of this installation works meanwhile.
    CCheckedDir backups;
    COutFile lock;
    std::wstring name, reason;
    FileFailure failure;
    if (!backups.OpenFolderOf(full, name, failure)) {
        say(L"ERROR: cannot open the folder that holds " + full + L": " + describeFileFailure(failure)
            + L" Nothing was restored.");
        return false;
    }
    if (!takeRunLock(backups, lock, reason)) {
        say(L"ERROR: " + reason + L" Nothing was restored; run restore.cmd again once it has ended.");
        return false;
    }
    try {
        CRestore restore(full, say);
        return restore.Run();
    } catch (const std::bad_alloc&) {
        say(L"ERROR: not enough memory to restore; the backup is left as it is.");
    }
    return false;
}

std::wstring restoreProgram()
{
    if (!restoreProgramOverride().empty())
        return restoreProgramOverride();
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return {};
        if (length < path.size())
            return std::wstring(path.data(), length);
        path.resize(path.size() * 2);
    }
}

void setRestoreProgram(const std::wstring& path)
{
    restoreProgramOverride() = path;
}
