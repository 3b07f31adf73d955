#include "migrate/migrate_worker.h"

#include "common/cmd/file_io.h"
#include "common/trace/trace.h"
#include "discovery/migration_view.h"
#include "migrate/registry_transfer.h"

#include <commctrl.h>

#include <cstring>

const wchar_t ITEM_STATE_MIGRATED[] = L"Migrated";
const wchar_t ITEM_STATE_FAILED[] = L"Failed: ";

namespace {

const wchar_t kAppTitle[] = L"quarnrept_migrate";

bool startsWithUnicodeMark(const std::string& bytes)
{
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF
           && static_cast<unsigned char>(bytes[1]) == 0xFE;
}

} // namespace

bool migrateFileItem(const MigrationItem& item, const std::wstring& sourceName, const std::wstring& destinationName,
                     std::wstring& reason)
{
    const bool toUnicode = itemKindConvertsToUnicode(item.kind);
    const std::wstring source = item.sourceRoot + L"\\" + sourceName;
    const std::wstring destination = item.destinationRoot + L"\\" + destinationName;
    FileFailure failure;

    // Read whole and closed before the destination is written, so a file that
    // is its own destination (a shared web site directory) is safe.
    std::string bytes;
    if (!w32ReadFileBytes(source, bytes, failure)) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error getting file: %s\n", source.c_str());
        reason = L"cannot read " + source + L": " + describeFileFailure(failure);
        return false;
    }

    bool written;
    if (!toUnicode) {
        // Templates and Zelt files go over exactly as they are.
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: copying %s (%s) to %s (%s)\n", source.c_str(), L"Ansi",
                 destination.c_str(), L"Ansi");
        written = w32WriteFileBytes(destination, bytes, failure);
    } else if (startsWithUnicodeMark(bytes)) {
        // Already UTF-16LE (an earlier run, or converted in place): converting
        // it again would destroy it.
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: copying %s (%s) to %s (%s)\n", source.c_str(), L"Unicode",
                 destination.c_str(), L"Unicode");
        written = w32WriteFileBytes(destination, bytes, failure);
    } else {
        if (std::memchr(bytes.data(), 0, bytes.size())) {
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: not OEM text, zero byte in %s\n", source.c_str());
            reason = source + L" is not OEM text (it holds zero bytes); nothing was written";
            return false;
        }
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: copying %s (%s) to %s (%s)\n", source.c_str(), L"Ansi",
                 destination.c_str(), L"Unicode");
        written = w32PutOemAsUtf16(destination, bytes, failure);
    }
    if (!written) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error putting file: %s\n", destination.c_str());
        reason = L"cannot write " + destination + L": " + describeFileFailure(failure);
        return false;
    }
    return true;
}

DWORD WINAPI t_processMigrate(LPVOID parameter)
{
    CMigrationView& view = *static_cast<CMigrationView*>(parameter);
    try {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: entering t_processMigrate\n");
        view.disableWorkerButtons();
        view.m_list.setRedraw(true);
        const int rows = view.m_list.rowCount();
        view.m_status.setText(L"Working...");

        unsigned migrated = 0;
        unsigned failed = 0;
        for (int row = 0; row < rows; ++row) {
            if (!view.m_list.isChecked(row))
                continue;
            view.m_list.selectAndShowRow(row);
            Sleep(250);

            MigrationItem* item = view.m_list.rowRecord(row);
            if (!item)
                continue;
            bool ok = true;
            std::wstring reason;
            if (item->kind == ITEM_REGISTRY_SETTINGS) {
                ok = migrateRegistrySettings(view.m_betaPath, reason);
            } else if (itemKindIsFile(item->kind)) {
                ok = migrateFileItem(*item, view.m_list.cellText(row, 1), view.m_list.cellText(row, 3), reason);
            }
            if (ok) {
                ++migrated;
                item->state = ITEM_STATE_MIGRATED;
            } else {
                ++failed;
                item->state = ITEM_STATE_FAILED + reason;
                QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: row %d failed: %s\n", row, reason.c_str());
            }
            view.m_list.setCellText(row, 4, item->state);
        }

        view.m_list.setRedraw(true);
        view.m_status.setText(L"Completed");
        std::wstring message = L"The migation completed successfully.";
        UINT icon = 0;
        if (failed) {
            message = L"The migration finished, but " + std::to_wstring(failed) + L" of "
                      + std::to_wstring(failed + migrated)
                      + L" items could not be migrated.\n\nThe State column shows why for each of them; "
                        L"everything else was migrated.";
            icon = MB_ICONWARNING;
        }
        MessageBoxW(GetParent(view.m_list.hwnd()), message.c_str(), kAppTitle, MB_OK | icon);

        view.enableWorkerButtons(true, true, true, true, true);
        view.m_status.setText(L"Ready");
    } catch (...) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: exception handled\n");
    }
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: leaving t_processMigrate, RC: %u\n", 0u);
    return 0;
}
