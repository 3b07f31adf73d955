#include "migrate/migrate_worker.h"

#include "contract/migration_view.h"
#include "common/files/block_transfer.h"
#include "common/cmd/console_path.h"
#include "common/files/replacing_writer.h"
#include "common/files/text_file.h"
#include "common/files/checked_file.h"
#include "common/trace/trace.h"
#include "migrate/migration_backup.h"
#include "migrate/registry_transfer.h"

#include <algorithm>
#include <memory>
#include <cstring>
#include <cwchar>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The reason for a source that is to be OEM text but holds a zero byte.
std::wstring notOemText(const std::wstring& source)
{
    return source + L" is not OEM text (it holds zero bytes); nothing was written";
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

// The directory the registry names for `root`, trusted as it is, and the
// folders below it on the way to `root`: for a Zelt file that is the
// installation directory and "zelt", which is no more trusted than the file.
void splitRoot(ItemKind kind, const std::wstring& root, std::wstring& trusted, std::wstring& relative)
{
    const size_t slash = root.find_last_of(L'\\');
    trusted = root;
    relative.clear();
    if (kind == ITEM_ZELT && slash != std::wstring::npos) {
        trusted = root.substr(0, slash);
        relative = root.substr(slash + 1);
    }
}

const CCheckedDir* openItemFolder(CFolderCache& folders, ItemKind kind, const std::wstring& root,
                                  FileFailure& failure)
{
    std::wstring trusted, relative;
    splitRoot(kind, root, trusted, relative);
    return folders.Open(trusted, relative, failure);
}

// A row's reason for a failure to reach `path`: the check's own words, or
// `doing` and the system's.
std::wstring openFailure(const wchar_t* doing, const std::wstring& path, const FileFailure& failure)
{
    const std::wstring refusal = checkRefusal(failure);
    if (!refusal.empty()) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: refused link %s\n", failure.path.c_str());
        return refusal;
    }
    return doing + path + L": " + describeFileFailure(failure);
}

} // namespace

bool migrateFileItem(const MigrationItem& item, const std::wstring& sourceName, const std::wstring& destinationName,
                     std::wstring& reason, CMigrationBackup* backup, CFolderCache* folders)
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
    CFolderCache ownFolders;
    CFolderCache& cache = folders ? *folders : ownFolders;
    const CCheckedDir* sourceFolder = openItemFolder(cache, item.kind, item.sourceRoot, failure);
    CInFile sourceFile;
    if (!sourceFolder || !sourceFile.Open(*sourceFolder, sourceName, failure)) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error getting file: %s\n", source.c_str());
        reason = openFailure(L"cannot read ", source, failure);
        return false;
    }
    CBlockSource blocks(sourceFile);
    if (!blocks.Measure(failure)) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error getting file: %s\n", source.c_str());
        reason = L"cannot read " + source + L": " + describeFileFailure(failure);
        return false;
    }
    // The destination's open is the run's one look at whether it exists: a
    // missing name is a search through its directory every time.
    const CCheckedDir* destinationFolder = openItemFolder(cache, item.kind, item.destinationRoot, failure);
    CInFile held;
    if (!destinationFolder
        || (!held.Open(*destinationFolder, destinationName, failure) && failure.cause != FILE_CAUSE_NOT_FOUND)) {
        reason = openFailure(L"cannot write ", destination, failure);
        return false;
    }
    const bool destinationThere = held.IsOpen();

    // Everything that can refuse the file is looked at before the backup is
    // made and the destination touched: whether the source is UTF-16LE
    // already (FF FE: copied as it is, since converting it again would
    // destroy it), whether it holds a zero byte where it is to be OEM text,
    // and whether the destination already holds what it would become. For a
    // destination that is there, one pass over the source tells, before
    // anything is kept or written; it stops once there is nothing more to
    // learn. A new destination is looked at in the pass that writes it, and
    // the backup hears of it only then.
    bool decided = false;
    bool convert = false;
    auto decide = [&](const char* data, DWORD size) {
        decided = true;
        convert = toUnicode && !(size >= 2 && std::memcmp(data, UTF16LE_MARK, sizeof UTF16LE_MARK) == 0);
    };
    bool zero = false;
    if (destinationThere) {
        bool enough = false;
        COemToUtf16 converter;
        std::vector<wchar_t> units;
        std::unique_ptr<CStreamCompare> compare;
        const bool looked = blocks.ForEach(
            [&](const char* data, DWORD size, bool last) {
                if (!decided) {
                    decide(data, size);
                    // Each OEM byte is one UTF-16 unit except in multi-byte
                    // code pages, where only the comparison tells.
                    const ULONGLONG expected = !convert ? blocks.Size()
                        : w32OemIsSingleByte()           ? 2 + 2 * blocks.Size()
                                                         : ULONGLONG(-1);
                    compare.reset(new CStreamCompare(held, expected));
                    if (convert && !compare->Feed(UTF16LE_MARK, sizeof UTF16LE_MARK, failure))
                        return false;
                }
                if (convert && holdsZeroByte(data, size)) {
                    zero = true;
                    return false;
                }
                if (compare && compare->Differs())
                    compare.reset();
                if (!compare) {
                    enough = !convert;
                    return convert;
                }
                if (!convert)
                    return compare->Feed(data, size, failure);
                return converter.Convert(data, size, last, units, failure)
                    && compare->Feed(units.data(), units.size() * sizeof(wchar_t), failure);
            },
            failure);
        if (!looked && !zero && !enough) {
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error getting file: %s\n", source.c_str());
            reason = L"cannot read " + source + L": " + describeFileFailure(failure);
            return false;
        }
        if (zero) {
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: not OEM text, zero byte in %s\n", source.c_str());
            reason = notOemText(source);
            return false;
        }
        // A destination that already holds the new content is left alone
        // (and so not kept either): a repeated run changes nothing.
        if (looked && compare && compare->Same(failure)) {
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: %s already holds what would be written\n", destination.c_str());
            return true;
        }
        if (backup && !backup->KeepFile(backupRootOf(item.kind), item.destinationRoot, destinationName, reason, &held))
            return false;
    }

    // What is kept and what is replaced is the file that was compared. A
    // destination found missing is written only as a new file, so that
    // nothing appears meanwhile and is replaced without having been kept.
    CReplacingWriter writer;
    bool written = writer.Begin(*destinationFolder, destinationName, failure,
                                destinationThere ? WriteTo::AnyFile : WriteTo::NewFile, &held);
    held.Close();
    // The source a block at a time. It may have changed since the look, so a
    // zero byte still refuses it, and a changed size fails the row.
    bool readFailed = false;
    if (written) {
        bool writeFailed = false;
        bool first = true;
        COemToUtf16 converter;
        std::vector<wchar_t> units;
        written = blocks.ForEach(
            [&](const char* data, DWORD size, bool last) {
                if (first) {
                    first = false;
                    if (!decided)
                        decide(data, size);
                    if (convert && !writer.Write(UTF16LE_MARK, sizeof UTF16LE_MARK, failure)) {
                        writeFailed = true;
                        return false;
                    }
                }
                if (convert && holdsZeroByte(data, size)) {
                    zero = true;
                    return false;
                }
                writeFailed = !(convert ? converter.Convert(data, size, last, units, failure)
                                              && writer.Write(units.data(), units.size() * sizeof(wchar_t), failure)
                                        : writer.Write(data, size, failure));
                return !writeFailed;
            },
            failure);
        readFailed = !written && !zero && !writeFailed;
    }
    if (zero) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: not OEM text, zero byte in %s\n", source.c_str());
        reason = notOemText(source);
        return false;
    }
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: copying %s (%s) to %s (%s)\n", source.c_str(),
             !toUnicode || convert ? L"Ansi" : L"Unicode", destination.c_str(), !toUnicode ? L"Ansi" : L"Unicode");
    // Closed before the rename: the source may be the destination itself (a
    // shared web site directory).
    sourceFile.Close();
    if (written && backup && !destinationThere && !backup->ExpectNewFile(item.destinationRoot, destinationName, reason))
        return false;
    written = written && writer.Flush(failure);
    // A file the run creates is recorded before it takes its name: a run
    // stopped at any moment leaves no file the restore does not know of.
    if (written && backup && !destinationThere
        && !backup->RecordCreated(item.destinationRoot, destinationName, writer.Fingerprint(), reason)) {
        reason = L"cannot write " + destination + L": the backup cannot record it: " + reason;
        return false;
    }
    written = written && writer.Put(failure);
    if (!written) {
        if (backup && !destinationThere)
            backup->RecordNotCreated(item.destinationRoot, destinationName);
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error putting file: %s\n", destination.c_str());
        reason = readFailed ? L"cannot read " + source + L": " + describeFileFailure(failure)
                            : openFailure(L"cannot write ", destination, failure);
        return false;
    }
    return true;
}

namespace {

// Carries one taken record over. Whatever goes wrong in it, a failure,
// an exception or a size the tool cannot handle, fails this row only.
bool migrateRecord(const std::wstring& betaPath, CMigrationBackup& backup, CFolderCache& folders,
                   const MigrationItem& item, std::wstring& reason)
{
    try {
        // What a row replaces is kept first; a row that cannot be kept is
        // not carried over.
        if (item.kind == ITEM_REGISTRY_SETTINGS)
            return migrateRegistrySettings(betaPath, backup, reason);
        if (itemKindIsFile(item.kind))
            return migrateFileItem(item, item.sourceFileName, item.destinationName, reason, &backup, &folders);
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
    IMigrationView& view = *static_cast<IMigrationView*>(parameter);
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: entering t_processMigrate\n");
    unsigned migrated = 0;
    unsigned failed = 0;
    std::vector<TakenRecord> taken;
    size_t reached = 0;
    SYSTEMTIME start;
    GetLocalTime(&start);
    const std::wstring betaPath = view.BetaPath();
    CMigrationBackup backup(view.GaPath(), start);
    CFolderCache folders;
    std::set<const CCheckedDir*> swept;
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
        FileFailure failure;
        if (const CCheckedDir* beta = isFullPath(betaPath) ? folders.Open(betaPath, L"", failure) : nullptr)
            w32RemoveLeftoverTemporaries(*beta);
        for (const TakenRecord& record : taken) {
            const CCheckedDir* folder = isFullPath(record.item.destinationRoot) && itemKindIsFile(record.item.kind)
                                            ? openItemFolder(folders, record.item.kind, record.item.destinationRoot,
                                                             failure)
                                            : nullptr;
            if (folder && swept.insert(folder).second)
                w32RemoveLeftoverTemporaries(*folder);
        }
        for (const TakenRecord& record : taken) {
            ++reached;
            if (!view.ShowRecordRowIfTicked(record.id))
                continue;
            std::wstring reason;
            const bool ok = migrateRecord(betaPath, backup, folders, record.item, reason);
            ok ? ++migrated : ++failed;
            if (!ok)
                QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: %s failed: %s\n", record.item.sourceName.c_str(),
                         reason.c_str());
            view.SetRecordState(record.id, ok ? RowState { RowOutcome::Migrated, {} } : RowState { RowOutcome::Failed, reason });
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
