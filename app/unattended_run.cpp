#include "app/unattended_run.h"

#include "app/migrate_app.h"
#include "contract/migration_view.h"
#include "common/cmd/console_names.h"
#include "common/cmd/registry_key.h"
#include "common/cmd/replacing_writer.h"
#include "common/fs/owner.h"
#include "common/msg/nls_resources.h"
#include "common/notice.h"
#include "common/text.h"
#include "contract/item_types.h"
#include "discovery/refresh_worker.h"
#include "migrate/backup_restore.h"
#include "migrate/migrate_worker.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

const wchar_t ANOTHER_COPY_TEXT[] = L"Another copy of quarnrept_migrate is running on this computer. "
                                    L"Wait until it has ended, then start this one again.";

const wchar_t RUN_LOCK_NAME[] = L"Global\\quarnrept_migrate.run";

namespace {

// Whether this process's token holds the Administrators group enabled (an
// elevated administrator): only then does a refusal of the lock tell that
// someone else made it.
bool runsElevated()
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)
        && CheckTokenMembership(nullptr, administrators, &member) && member;
}

} // namespace

CSingleRun::CSingleRun() : m_mutex(nullptr), m_taken(false)
{
    // Owned by Administrators, an owner that only an elevated administrator
    // (or the system) can give; without that right, owned by the caller.
    DWORD error = ERROR_SUCCESS;
    for (const wchar_t* access : { L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)", L"D:P(A;;GA;;;SY)(A;;GA;;;BA)" }) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(access, SDDL_REVISION_1, &descriptor, nullptr))
            continue;
        SECURITY_ATTRIBUTES attributes = { sizeof attributes, descriptor, FALSE };
        m_mutex = CreateMutexW(&attributes, TRUE, RUN_LOCK_NAME);
        error = GetLastError();
        LocalFree(descriptor);
        if (m_mutex || error != ERROR_INVALID_OWNER)
            break;
    }
    if (m_mutex && error != ERROR_ALREADY_EXISTS) {
        m_taken = true;
        return;
    }
    // The name is taken: by a copy of the tool only when its owner is one
    // no other account can give.
    HANDLE existing = m_mutex ? m_mutex : OpenMutexW(READ_CONTROL, FALSE, RUN_LOCK_NAME);
    const DWORD openError = existing ? ERROR_SUCCESS : GetLastError();
    std::vector<BYTE> owner;
    if (existing && ownerOf(existing, owner) && isAdministratorsOrSystem(owner.data())) {
        m_taken = false; // another copy
    } else if (existing) {
        m_holder = owner.empty() ? L"an account that gave it no owner" : accountName(owner.data());
    } else if (openError == ERROR_ACCESS_DENIED && runsElevated()) {
        // A copy of the tool lets administrators in; this one keeps them out.
        m_holder = L"an account that keeps administrators out of it";
    } else if (openError == ERROR_FILE_NOT_FOUND || openError == ERROR_ACCESS_DENIED) {
        // An account that may not make global objects (no administrator)
        // gets a lock for its own session instead of a false "another copy".
        m_mutex = CreateMutexW(nullptr, TRUE, L"Local\\quarnrept_migrate.run");
        m_taken = m_mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
        return;
    }
    if (existing && existing != m_mutex)
        CloseHandle(existing);
    if (m_mutex) {
        CloseHandle(m_mutex); // not this tool's lock: nothing to hold
        m_mutex = nullptr;
    }
    m_taken = !m_holder.empty();
}

CSingleRun::~CSingleRun()
{
    if (m_mutex) {
        if (m_taken)
            ReleaseMutex(m_mutex);
        CloseHandle(m_mutex);
    }
}

std::wstring CSingleRun::HolderText() const
{
    return L"The run lock " + std::wstring(RUN_LOCK_NAME) + L" was made by " + m_holder
        + L", not by a copy of quarnrept_migrate, so it is not taken for one. This copy goes on. A migration and a "
          L"restore each also take the lock in the 5.2.2 installation's migration backups folder, so no two of "
          L"them work at once. Find out who made it.";
}

namespace {

const wchar_t USAGE_TEXT[] =
    L"Usage:\r\n"
    L"  quarnrept_migrate.exe                  opens the window\r\n"
    L"  quarnrept_migrate.exe /list [/report:FILE]\r\n"
    L"  quarnrept_migrate.exe /migrate [/only:DESCRIPTION[,DESCRIPTION...]] [/report:FILE]\r\n"
    L"  quarnrept_migrate.exe /restore:FOLDER\r\n"
    L"  quarnrept_migrate.exe /?\r\n"
    L"\r\n"
    L"/list     lists every row the window would show, and changes nothing.\r\n"
    L"/migrate  migrates every row, as Select All, Migrate and Yes would.\r\n"
    L"/only     migrates only the rows of these Description texts (any case), such as\r\n"
    L"          /only:\"Registry settings,Zelt\".\r\n"
    L"/report   also writes the rows, with their states and reasons, to FILE as CSV.\r\n"
    L"/restore  puts the 5.2.2 installation back as the backup FOLDER of a migration\r\n"
    L"          holds it (what its restore.cmd runs), and checks that everything is back.\r\n"
    L"\r\n"
    L"Exit codes: 0 every row migrated (or listed), or everything restored; 1 one or more\r\n"
    L"rows failed, or something is not back; 2 nothing to migrate (an installation was\r\n"
    L"not found); 3 the command line is wrong; 4 the run could not start, or the report\r\n"
    L"could not be written.\r\n";

// Prints to the console the tool was started from, or to where its output
// was sent. A program with a window has no console of its own.
class CConsoleOut {
public:
    CConsoleOut()
    {
        m_out = GetStdHandle(STD_OUTPUT_HANDLE);
        if ((m_out == nullptr || m_out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
            m_own = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
            m_out = m_own;
            Write(L"\r\n"); // off the prompt the console has printed meanwhile
        }
    }
    ~CConsoleOut()
    {
        if (m_own != INVALID_HANDLE_VALUE)
            CloseHandle(m_own);
    }
    CConsoleOut(const CConsoleOut&) = delete;
    CConsoleOut& operator=(const CConsoleOut&) = delete;

    void Line(const std::wstring& text) { Write(text + L"\r\n"); }

    // Waits for a key where someone can press one: a restore.cmd started by
    // a double-click would close its window before anyone read it. Input
    // from a file, a pipe or nowhere (a remote shell, a script) waits for
    // nothing.
    void PauseIfInteractive()
    {
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        CFileHandle own;
        if ((in == nullptr || in == INVALID_HANDLE_VALUE) && m_own != INVALID_HANDLE_VALUE) {
            own.Attach(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
            in = own.Get();
        }
        DWORD mode = 0;
        if (in == nullptr || in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode))
            return;
        Write(L"Press any key to close this window . . .");
        FlushConsoleInputBuffer(in);
        for (INPUT_RECORD record; ;) {
            DWORD read = 0;
            if (!ReadConsoleInputW(in, &record, 1, &read) || read == 0)
                break;
            if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
                break;
        }
        Line(L"");
    }

    void Write(const std::wstring& text)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_out == nullptr || m_out == INVALID_HANDLE_VALUE || text.empty())
            return;
        DWORD done = 0;
        DWORD mode = 0;
        if (GetConsoleMode(m_out, &mode)) {
            WriteConsoleW(m_out, text.data(), DWORD(text.size()), &done, nullptr);
            return;
        }
        const std::string bytes = utf8(text);
        WriteFile(m_out, bytes.data(), DWORD(bytes.size()), &done, nullptr);
    }

    static std::string utf8(const std::wstring& text)
    {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
        std::string bytes(size > 0 ? size_t(size) : 0, '\0');
        if (size > 0)
            WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &bytes[0], size, nullptr, nullptr);
        return bytes;
    }

private:
    HANDLE m_out = nullptr;
    HANDLE m_own = INVALID_HANDLE_VALUE;
    std::mutex m_lock;
};

// What the lower layers tell the user goes to the console, in the words the
// window's boxes would show.
class CConsoleNotices : public INoticeSink {
public:
    explicit CConsoleNotices(CConsoleOut& out) : m_out(out), m_previous(setNoticeSink(this)) {}
    ~CConsoleNotices() override { setNoticeSink(m_previous); }
    CConsoleNotices(const CConsoleNotices&) = delete;
    CConsoleNotices& operator=(const CConsoleNotices&) = delete;
    void Tell(const std::wstring& text, const std::wstring& caption, NoticeKind kind) override
    {
        m_out.Line((kind == NoticeKind::Error ? L"ERROR (" : L"WARNING (") + caption + L"): " + trimmedRight(text));
    }

private:
    CConsoleOut& m_out;
    INoticeSink* m_previous;
};

struct Options {
    bool help = false;
    bool list = false;
    bool migrate = false;
    bool only = false;
    std::vector<std::wstring> onlyKinds;
    bool report = false;
    std::wstring reportFile;
    bool restore = false;
    std::wstring restoreFolder;
};

// The Description texts a row can have.
std::vector<std::wstring> knownDescriptions()
{
    std::vector<std::wstring> known { L"Registry settings" };
    for (const ItemTypeEntry* table : { reportItemTypes, webSummaryItemTypes, zeltItemTypes })
        for (const ItemTypeEntry* row = table; row->pattern; ++row)
            known.push_back(row->description);
    return known;
}

bool isKnownDescription(const std::wstring& text)
{
    for (const std::wstring& known : knownDescriptions())
        if (sameIgnoringCase(known, text))
            return true;
    return false;
}

// Reads the switches; false with the reason in `error`. A switch given twice
// or one the tool does not know is refused, never passed over.
bool parseOptions(const std::vector<std::wstring>& args, Options& options, std::wstring& error)
{
    for (const std::wstring& arg : args) {
        const size_t colon = arg.find(L':');
        const std::wstring name = arg.substr(0, colon);
        const std::wstring value = colon == std::wstring::npos ? L"" : arg.substr(colon + 1);
        bool* seen = nullptr;
        if (sameIgnoringCase(name, L"/?"))
            seen = &options.help;
        else if (sameIgnoringCase(name, L"/list"))
            seen = &options.list;
        else if (sameIgnoringCase(name, L"/migrate"))
            seen = &options.migrate;
        else if (sameIgnoringCase(name, L"/only"))
            seen = &options.only;
        else if (sameIgnoringCase(name, L"/report"))
            seen = &options.report;
        else if (sameIgnoringCase(name, L"/restore"))
            seen = &options.restore;
        if (!seen) {
            error = L"Unknown switch: " + arg;
            return false;
        }
        if (*seen) {
            error = L"A switch given twice: " + name;
            return false;
        }
        *seen = true;
        const bool takesValue = seen == &options.only || seen == &options.report || seen == &options.restore;
        if (takesValue == (colon == std::wstring::npos) || (takesValue && trimmedWhiteSpace(value).empty())) {
            error = takesValue ? name + L" needs a value after a colon: " + arg : name + L" takes no value: " + arg;
            return false;
        }
        if (seen == &options.report)
            options.reportFile = value;
        if (seen == &options.restore)
            options.restoreFolder = value;
        for (size_t start = 0; seen == &options.only && start <= value.size();) {
            const size_t comma = std::min(value.find(L',', start), value.size());
            const std::wstring kind = trimmedWhiteSpace(value.substr(start, comma - start));
            if (!isKnownDescription(kind)) {
                error = L"/only names no kind of item: \"" + kind + L"\"";
                return false;
            }
            options.onlyKinds.push_back(kind);
            start = comma + 1;
        }
    }
    if (options.help)
        return true;
    if (options.restore) {
        if (options.list || options.migrate || options.only || options.report) {
            error = L"/restore goes alone.";
            return false;
        }
        return true;
    }
    if (options.list == options.migrate) {
        error = L"Give either /list or /migrate.";
        return false;
    }
    if (options.only && !options.migrate) {
        error = L"/only goes with /migrate.";
        return false;
    }
    return true;
}

// The workers' face without a window: it keeps the rows and prints each
// row's result as the migration reaches it.
class CConsoleView : public IMigrationView {
public:
    struct Row {
        LPARAM id;
        MigrationItem item;
        bool ticked;
        const wchar_t* destinationToday; // "replaced" or "new"
    };

    CConsoleView(CConsoleOut& out, bool listOnly) : m_out(out), m_listOnly(listOnly) {}

    std::vector<Row> rows;
    std::wstring status;
    std::wstring closingText;

    void SetStatus(const std::wstring& text) override { status = text; }
    void SetSourcePath(const std::wstring&) override {}
    void SetDestinationPath(const std::wstring&) override {}
    void EnableWorkerButtons(unsigned) override {}
    void AddListItems(const NewListItem* items, size_t count) override
    {
        for (size_t i = 0; i < count; ++i) {
            const MigrationItem record = newRecordOf(items[i]);
            rows.push_back(Row { m_nextId++, record, true, destinationToday(record) });
        }
    }
    void ClearList() override { rows.clear(); }
    int RowCount() override { return int(rows.size()); }
    void SetListRedraw(bool) override {}
    void SelectAndShowRow(int) override {}
    std::vector<TakenRecord> TakeRecords() override
    {
        std::vector<TakenRecord> taken;
        for (const Row& row : rows)
            taken.push_back(TakenRecord { row.id, row.item });
        return taken;
    }
    bool ShowRecordRowIfTicked(LPARAM id) override
    {
        const Row* row = find(id);
        return row && row->ticked;
    }
    void SetRecordState(LPARAM id, const std::wstring& state) override
    {
        if (Row* row = find(id)) {
            row->item.state = state;
            m_out.Line(rowLine(*row));
        }
    }
    bool ListsOnly() override { return m_listOnly; }
    void SetInstallPaths(const std::wstring& betaPath, const std::wstring& gaPath) override
    {
        m_betaPath = betaPath;
        m_gaPath = gaPath;
    }
    std::wstring BetaPath() override { return m_betaPath; }
    std::wstring GaPath() override { return m_gaPath; }
    bool ShowMessage(const std::wstring& text, MessageKind) override
    {
        closingText = text;
        return false; // the workers ask nothing; a question would be No
    }
    void EndRun(unsigned) override {}

    // "Description  source -> destination (replaced or new): State".
    static std::wstring rowLine(const Row& row)
    {
        const MigrationItem& item = row.item;
        // The registry row's roots are its keys already.
        const bool key = item.kind == ITEM_REGISTRY_SETTINGS;
        return item.description + L"  " + item.sourceRoot + (key ? L"" : L"\\" + item.sourceName) + L" -> "
            + item.destinationRoot + (key ? L"" : L"\\" + item.destinationName) + L" (" + row.destinationToday
            + L"): " + item.state;
    }

private:
    // Rows are only ever added, with rising ids.
    Row* find(LPARAM id)
    {
        const auto at = std::lower_bound(rows.begin(), rows.end(), id,
                                         [](const Row& row, LPARAM wanted) { return row.id < wanted; });
        return at != rows.end() && at->id == id ? &*at : nullptr;
    }

    const wchar_t* destinationToday(const MigrationItem& item)
    {
        if (item.kind == ITEM_REGISTRY_SETTINGS) {
            CRegistryKey key;
            return key.Open(HKEY_LOCAL_MACHINE, GA_SETTINGS_SUBKEY) == ERROR_SUCCESS ? L"replaced" : L"new";
        }
        if (!itemKindIsFile(item.kind))
            return L"-";
        const std::wstring& name = item.destinationName;
        if (name.find_first_of(L"\\/") != std::wstring::npos) {
            const std::wstring path = item.destinationRoot + L"\\" + name;
            return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ? L"replaced" : L"new";
        }
        return namesIn(item.destinationRoot).count(foldedCase(name)) ? L"replaced" : L"new";
    }

    // The names in a destination directory as the listing found them, read
    // once: looking up each missing name would search the directory again.
    const std::set<std::wstring>& namesIn(const std::wstring& directory)
    {
        const std::wstring key = foldedCase(directory);
        const auto known = m_namesIn.find(key);
        if (known != m_namesIn.end())
            return known->second;
        std::set<std::wstring>& names = m_namesIn[key];
        WIN32_FIND_DATAW entry;
        CFindHandle find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
        if (find.IsValid()) {
            do {
                names.insert(foldedCase(entry.cFileName));
            } while (FindNextFileW(find.Get(), &entry));
        }
        return names;
    }

    CConsoleOut& m_out;
    bool m_listOnly;
    std::map<std::wstring, std::set<std::wstring>> m_namesIn;
    LPARAM m_nextId = 1;
    std::wstring m_betaPath, m_gaPath;
};

// One CSV field (RFC 4180): quoted when it holds a comma, a quote or a line
// end. A file name is anyone's to choose, and a spreadsheet runs a field that
// begins with = + - @, a tab or a carriage return as a formula: such a field
// starts with ' instead, as spreadsheet-safe exports do.
std::wstring csvField(const std::wstring& field)
{
    const bool formula = !field.empty() && std::wstring(L"=+-@\t\r").find(field[0]) != std::wstring::npos;
    const std::wstring text = formula ? L"'" + field : field;
    if (text.find_first_of(L",\"\r\n") == std::wstring::npos)
        return text;
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        quoted += c;
        if (c == L'"')
            quoted += L'"';
    }
    return quoted + L"\"";
}

// The rows as CSV in UTF-8 behind its byte-order mark, CR LF line ends.
std::string reportBytes(const std::vector<CConsoleView::Row>& rows)
{
    std::wstring text = L"Description,Source,Conversion,Destination,Source Folder,Destination Folder,"
                        L"Destination Before,State,Reason\r\n";
    const std::wstring failed = ITEM_STATE_FAILED;
    for (const CConsoleView::Row& row : rows) {
        const MigrationItem& item = row.item;
        const bool isFailure = item.state.compare(0, failed.size(), failed) == 0;
        const std::wstring state = isFailure ? L"Failed" : item.state;
        const std::wstring reason = isFailure ? item.state.substr(failed.size()) : L"";
        for (const std::wstring& field : { item.description, item.sourceName, item.conversion, item.destinationName,
                                           item.sourceRoot, item.destinationRoot,
                                           std::wstring(row.destinationToday), state, reason })
            text += csvField(field) + L",";
        text.back() = L'\r';
        text += L"\n";
    }
    return "\xEF\xBB\xBF" + CConsoleOut::utf8(text);
}

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
    if (view.status.compare(0, 5, L"ERROR") == 0) {
        out.Line(view.status);
        return EXIT_NOTHING_TO_DO;
    }

    unsigned migrated = 0, failed = 0;
    if (options.migrate) {
        for (CConsoleView::Row& row : view.rows) {
            row.ticked = !options.only;
            for (const std::wstring& kind : options.onlyKinds)
                row.ticked = row.ticked || sameIgnoringCase(kind, row.item.description);
        }
        t_processMigrate(&view);
        for (const CConsoleView::Row& row : view.rows) {
            if (row.item.state == ITEM_STATE_MIGRATED)
                ++migrated;
            else if (row.item.state != ITEM_STATE_NOT_STARTED)
                ++failed;
        }
    } else {
        for (const CConsoleView::Row& row : view.rows)
            out.Line(CConsoleView::rowLine(row));
    }

    int code = failed ? EXIT_ROWS_FAILED : EXIT_ALL_DONE;
    out.Line(L"");
    out.Line(L"Rows: " + std::to_wstring(view.rows.size()) + L", migrated: " + std::to_wstring(migrated)
             + L", failed: " + std::to_wstring(failed) + L".");
    if (!view.closingText.empty())
        out.Line(view.closingText);
    if (options.report) {
        FileFailure failure;
        if (w32WriteFileBytes(reportPath, reportBytes(view.rows), failure, WriteTo::OwnFile)) {
            out.Line(L"Report: " + reportPath);
        } else {
            out.Line(L"ERROR: the report " + reportPath + L" could not be written: " + describeFileFailure(failure));
            code = EXIT_CANNOT_RUN;
        }
    }
    out.Line(L"Exit code: " + std::to_wstring(code));
    return code;
}
