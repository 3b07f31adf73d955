#include "migrate/migrate_worker.h"

#include "app/migration_view.h"
#include "common/cmd/console_path.h"
#include "common/cmd/replacing_writer.h"
#include "common/cmd/text_file.h"
#include "common/fs/link_check.h"
#include "common/trace/trace.h"
#include "migrate/migration_backup.h"
#include "migrate/registry_transfer.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Whether `destination` holds exactly what writing `bytes` (converted from
// the OEM code page to UTF-16LE behind FF FE when `convert`) would leave.
bool holdsAlready(const std::wstring& destination, const std::string& bytes, bool convert)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(destination.c_str(), GetFileExInfoStandard, &data))
        return false;
    const ULONGLONG size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // Each OEM byte is one UTF-16 unit except in double-byte code pages,
    // where only a comparison of the converted text tells.
    if ((!convert || w32OemIsSingleByte()) && size != (convert ? 2 + 2 * ULONGLONG(bytes.size()) : bytes.size()))
        return false;
    std::string held;
    FileFailure failure;
    if (!w32ReadFileBytes(destination, held, failure))
        return false;
    if (!convert)
        return held == bytes;
    std::wstring text;
    return w32StartsWithUtf16Mark(held) && w32NarrowToWide(bytes, text, failure)
           && held.size() == 2 + text.size() * sizeof(wchar_t)
           && std::memcmp(held.data() + 2, text.data(), text.size() * sizeof(wchar_t)) == 0;
}

BackupRoot backupRootOf(ItemKind kind)
{
    switch (kind) {
    case ITEM_WEB_SUMMARY_HTM:
    case ITEM_WEB_SUMMARY_INFO:
        return BackupRoot::WebSite;
    case ITEM_ZELT:
        return BackupRoot::Zelt;
    default:
        return BackupRoot::Installation;
    }
}

// The first link on the way to root\name, from the directory the registry
// names: for a Zelt file that is the installation directory, the "zelt"
// folder below it being no more trusted than the file.
// `allThere` as firstLinkBelow.
std::wstring linkOnTheWay(ItemKind kind, const std::wstring& root, const std::wstring& name, bool* allThere = nullptr)
{
    const size_t slash = root.find_last_of(L'\\');
    if (kind == ITEM_ZELT && slash != std::wstring::npos)
        return firstLinkBelow(root.substr(0, slash), root.substr(slash + 1) + L"\\" + name, allThere);
    return firstLinkBelow(root, name, allThere);
}

} // namespace

bool migrateFileItem(const MigrationItem& item, const std::wstring& sourceName, const std::wstring& destinationName,
                     std::wstring& reason, MigrationBackup* backup)
{
    const bool toUnicode = itemKindConvertsToUnicode(item.kind);
    const std::wstring source = item.sourceRoot + L"\\" + sourceName;
    const std::wstring destination = item.destinationRoot + L"\\" + destinationName;
    FileFailure failure;

    // Nothing is written outside the 5.2.2 installation: a destination root
    // that is not a full path would be the current directory or a drive's root.
    if (!isFullPath(item.destinationRoot)) {
        reason = std::wstring(CONSOLE_DIRECTORY_UNKNOWN) + L", so " + destinationName + L" has nowhere to go";
        return false;
    }
    // The destination's look on the way is the run's one look at whether it
    // exists: a missing name is a search through its directory every time.
    bool destinationThere = true;
    for (const std::wstring& link : { linkOnTheWay(item.kind, item.sourceRoot, sourceName),
                                      linkOnTheWay(item.kind, item.destinationRoot, destinationName,
                                                   &destinationThere) }) {
        if (!link.empty()) {
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: refused link %s\n", link.c_str());
            reason = linkRefusal(link);
            return false;
        }
    }

    // Read whole and closed before the destination is written, so a file that
    // is its own destination (a shared web site directory) is safe.
    std::string bytes;
    if (!w32ReadFileBytes(source, bytes, failure)) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error getting file: %s\n", source.c_str());
        reason = L"cannot read " + source + L": " + describeFileFailure(failure);
        return false;
    }

    // Everything that can refuse the file is looked at before the backup is
    // made and the destination touched.
    bool convert = false;
    if (!toUnicode) {
        // Templates and Zelt files go over exactly as they are.
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: copying %s (%s) to %s (%s)\n", source.c_str(), L"Ansi",
                 destination.c_str(), L"Ansi");
    } else if (w32StartsWithUtf16Mark(bytes)) {
        // Already UTF-16LE (an earlier run, or converted in place): converting
        // it again would destroy it.
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: copying %s (%s) to %s (%s)\n", source.c_str(), L"Unicode",
                 destination.c_str(), L"Unicode");
    } else {
        if (std::memchr(bytes.data(), 0, bytes.size())) {
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: not OEM text, zero byte in %s\n", source.c_str());
            reason = source + L" is not OEM text (it holds zero bytes); nothing was written";
            return false;
        }
        convert = true;
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: copying %s (%s) to %s (%s)\n", source.c_str(), L"Ansi",
                 destination.c_str(), L"Unicode");
    }
    // A destination that already holds the new content is left alone (and
    // so not kept either): a repeated run changes nothing.
    if (destinationThere && holdsAlready(destination, bytes, convert)) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: %s already holds what would be written\n", destination.c_str());
        return true;
    }
    // A destination found missing is written only as a new file, so that
    // nothing appears meanwhile and is replaced without having been kept.
    const WriteTo to = destinationThere ? WriteTo::AnyFile : WriteTo::NewFile;
    if (backup
        && !(destinationThere ? backup->KeepFile(backupRootOf(item.kind), item.destinationRoot, destinationName, reason)
                              : backup->ExpectNewFile(item.destinationRoot, destinationName, reason)))
        return false;
    const bool written = convert ? w32PutOemAsUtf16(destination, bytes, failure, to)
                                 : w32WriteFileBytes(destination, bytes, failure, to);
    if (!written) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error putting file: %s\n", destination.c_str());
        reason = L"cannot write " + destination + L": " + describeFileFailure(failure);
        return false;
    }
    // (A destination kept as it was is recorded already; RecordCreated leaves it.)
    if (backup && !backup->RecordCreated(item.destinationRoot, destinationName, reason)) {
        reason = destination + L" was written, but restore.cmd cannot say to delete it: " + reason;
        return false;
    }
    return true;
}

namespace {

// Carries one taken record over. Whatever goes wrong in it, a failure,
// an exception or a size the tool cannot handle, fails this row only.
bool migrateRecord(const std::wstring& betaPath, MigrationBackup& backup, const MigrationItem& item,
                   std::wstring& reason)
{
    try {
        // What a row replaces is kept first; a row that cannot be kept is
        // not carried over.
        if (item.kind == ITEM_REGISTRY_SETTINGS)
            return migrateRegistrySettings(betaPath, backup, reason);
        if (itemKindIsFile(item.kind))
            return migrateFileItem(item, item.sourceFileName, item.destinationName, reason, &backup);
        return true; // the "No items were found" row: only marked
    } catch (const std::bad_alloc&) {
        reason = L"not enough memory to carry this item over";
    } catch (const std::length_error&) {
        reason = L"the item is too large to be held in memory";
    } catch (const std::exception& error) {
        const std::string what = error.what();
        reason = L"unexpected error: " + std::wstring(what.begin(), what.end());
    } catch (...) {
        reason = L"unexpected error";
    }
    return false;
}

} // namespace

DWORD WINAPI t_processMigrate(LPVOID parameter)
{
    CMigrationView& view = *static_cast<CMigrationView*>(parameter);
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: entering t_processMigrate\n");
    unsigned migrated = 0;
    unsigned failed = 0;
    std::vector<TakenRecord> taken;
    size_t reached = 0;
    SYSTEMTIME start;
    GetLocalTime(&start);
    const std::wstring betaPath = view.BetaPath();
    MigrationBackup backup(view.GaPath(), start);
    CRootsResolvedOnce roots;
    try {
        view.EnableWorkerButtons(BUTTONS_NONE);
        view.SetListRedraw(true);
        view.SetStatus(L"Working...");

        // The run works from the records as they were at its start, and finds
        // each one's row by its id: whatever happens to the list's order
        // meanwhile, every row is reached exactly once. A row's tick counts
        // as the run reaches it.
        taken = view.TakeRecords();
        // What a stopped run left where this one writes goes first.
        std::vector<std::wstring> directories { betaPath };
        for (const TakenRecord& record : taken)
            if (std::find(directories.begin(), directories.end(), record.item.destinationRoot) == directories.end())
                directories.push_back(record.item.destinationRoot);
        for (const std::wstring& directory : directories)
            if (isFullPath(directory))
                w32RemoveLeftoverTemporaries(directory);
        for (const TakenRecord& record : taken) {
            ++reached;
            if (!view.ShowRecordRowIfTicked(record.id))
                continue;
            std::wstring reason;
            const bool ok = migrateRecord(betaPath, backup, record.item, reason);
            ok ? ++migrated : ++failed;
            if (!ok)
                QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: %s failed: %s\n", record.item.sourceName.c_str(),
                         reason.c_str());
            view.SetRecordState(record.id, ok ? std::wstring(ITEM_STATE_MIGRATED) : ITEM_STATE_FAILED + reason);
        }
        view.SetListRedraw(true);
    } catch (...) {
        // Only the list can fail us here; the rows not reached count as failed.
        failed += unsigned(taken.size() - reached);
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: exception handled\n");
    }

    // Every run ends with the closing message and the buttons enabled.
    try {
        view.SetStatus(L"Completed");
        std::wstring message = L"The migation completed successfully.";
        MessageKind kind = MessageKind::Plain;
        if (failed) {
            message = L"The migration finished, but " + std::to_wstring(failed) + L" of "
                      + std::to_wstring(failed + migrated)
                      + L" items could not be migrated.\n\nThe State column shows why for each of them; "
                        L"everything else was migrated.";
            kind = MessageKind::Warning;
        }
        std::wstring backupProblem;
        const bool backupWritten = backup.Finish(backupProblem);
        if (!backup.Folder().empty())
            message += L"\n\nWhat the migration replaced is kept in " + backup.Folder()
                       + L". To put the 5.2.2 installation back as it was, run restore.cmd in that folder.";
        if (!backupWritten) {
            message += L"\n\nThe backup is incomplete: " + backupProblem;
            kind = MessageKind::Warning;
        }
        view.ShowMessage(message, kind);
        view.SetStatus(L"Ready");
    } catch (...) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: exception handled\n");
    }
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: leaving t_processMigrate, RC: %u\n", 0u);
    view.EndRun(BUTTONS_ALL);
    return 0;
}
