#include "app/unattended_run.h"

#include "app/command_line.h"
#include "app/console_out.h"
#include "app/console_view.h"
#include "app/csv_report.h"
#include "app/migrate_app.h"
#include "app/single_run.h"
#include "common/files/replacing_writer.h"
#include "common/msg/nls_resources.h"
#include "discovery/refresh_worker.h"
#include "migrate/backup_restore.h"
#include "migrate/migrate_worker.h"

#include <windows.h>

namespace {

// The full path of a name given on the command line.
std::wstring fullPathOf(const std::wstring& name)
{
    wchar_t full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameW(name.c_str(), MAX_PATH * 4, full, nullptr);
    return length > 0 && length < MAX_PATH * 4 ? std::wstring(full, length) : name;
}

} // namespace

int runUnattended(const std::vector<std::wstring>& args)
{
    CConsoleOut out;
    Options options;
    std::wstring error;
    if (!parseOptions(args, options, error)) {
        out.Line(error);
        out.Write(USAGE_TEXT);
        return EXIT_BAD_COMMAND;
    }
    if (options.help) {
        out.Write(USAGE_TEXT);
        return EXIT_ALL_DONE;
    }
    CSingleRun single;
    if (!single.Taken()) {
        out.Line(ANOTHER_COPY_TEXT);
        return EXIT_CANNOT_RUN;
    }
    if (!single.Holder().empty())
        out.Line(L"WARNING: " + single.HolderText());
    if (options.restore) {
        const bool back = restoreFromBackup(fullPathOf(options.restoreFolder),
                                            [&out](const std::wstring& line) { out.Line(line); });
        const int code = back ? EXIT_ALL_DONE : EXIT_ROWS_FAILED;
        out.Line(L"Exit code: " + std::to_wstring(code));
        out.PauseIfInteractive();
        return code;
    }
    const std::wstring reportPath = options.report ? fullPathOf(options.reportFile) : L"";

    CConsoleNotices notices(out);
    CNlsResources languages; // loads the console's message libraries, as the window does
    CNlsResources noMoreLoading(NLS_LOADING_OFF);
    openToolTrace();

    CConsoleView view(out, options.list);
    t_processRefresh(&view);
    // A refresh that misses an installation hands over no path for it, and
    // its status line names the one missing.
    if (view.BetaPath().empty() || view.GaPath().empty()) {
        out.Line(view.status);
        return EXIT_NOTHING_TO_DO;
    }

    unsigned migrated = 0, failed = 0;
    if (options.migrate) {
        view.TickOnly([&options](const MigrationItem& item) {
            bool ticked = !options.only;
            for (const std::wstring& kind : options.onlyKinds)
                ticked = ticked || sameIgnoringCase(kind, item.description);
            return ticked;
        });
        t_processMigrate(&view);
        for (const CConsoleView::Row& row : view.Rows()) {
            migrated += row.item.state.outcome == RowOutcome::Migrated;
            failed += row.item.state.outcome == RowOutcome::Failed;
        }
    } else {
        for (const CConsoleView::Row& row : view.Rows())
            out.Line(CConsoleView::rowLine(row));
    }

    int code = failed ? EXIT_ROWS_FAILED : EXIT_ALL_DONE;
    out.Line(L"");
    out.Line(L"Rows: " + std::to_wstring(view.RowCount()) + L", migrated: " + std::to_wstring(migrated)
             + L", failed: " + std::to_wstring(failed) + L".");
    if (!view.closingText.empty())
        out.Line(view.closingText);
    if (options.report) {
        FileFailure failure;
        if (w32WriteFileBytes(reportPath, reportBytes(view.Rows()), failure, WriteTo::OwnFile)) {
            out.Line(L"Report: " + reportPath);
        } else {
            out.Line(L"ERROR: the report " + reportPath + L" could not be written: " + describeFileFailure(failure));
            code = EXIT_CANNOT_RUN;
        }
    }
    out.Line(L"Exit code: " + std::to_wstring(code));
    return code;
}

