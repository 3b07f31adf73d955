// demo_driver: works a running quarnrept_migrate from outside, the way an
// administrator would with the mouse, so that scripts/run.sh can show the tool
// end to end on a machine without anyone at the screen.
//
//   demo_driver wait-ready [--timeout S]   wait for the window, "Ready" and Refresh enabled
//   demo_driver list                       print the rows of the item list
//   demo_driver migrate [--leave-box]      press Migrate, confirm, wait for the closing
//                                          box and print it; then answer it and wait for
//                                          "Ready" unless --leave-box is given
//   demo_driver ack                        answer the closing box and wait for "Ready"
//   demo_driver close-help                 close the tool's help windows
//   demo_driver close                      press Done and wait for the tool to end
//   demo_driver windows                    print the tool's top-level windows
//   demo_driver rect                       print the main window's place, WxH+X+Y
//
// Only window messages and the tool's process memory are used: the list
// control lives in another process, so the item structures for its messages
// are placed in that process (VirtualAllocEx) and read back from there.
// Output is UTF-8. Exit code 0 on success, 1 on failure, 2 on a usage error.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const wchar_t DIALOG_CAPTION[] = L"Operational Reporting Beta to 5.2.2 Migration Tool";
const wchar_t CONFIRM_TEXT_START[] = L"You are about to migrate";
const wchar_t NO_ITEMS_TEXT[] = L"No items are selected.";

// Controls of the tool's main dialog.
constexpr int ID_MIGRATE = IDOK;
constexpr int ID_DONE = IDCANCEL;
constexpr int ID_REFRESH = 3;
constexpr int ID_LIST = 1003;
constexpr int ID_STATUS = 1052;
// The text of a message box.
constexpr int ID_BOX_TEXT = 0xFFFF;

constexpr UINT SEND_TIMEOUT_MS = 5000;
DWORD g_timeoutMs = 60000;

// ---------------------------------------------------------------------------
// Output

void out(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &utf8[0], bytes, nullptr, nullptr);
    fwrite(utf8.data(), 1, utf8.size(), stdout);
    fflush(stdout);
}

void fail(const std::wstring& text)
{
    out(L"demo_driver: " + text + L"\n");
}

std::wstring oneLine(std::wstring text)
{
    std::wstring line;
    for (wchar_t c : text) {
        if (c == L'\r')
            continue;
        line += c == L'\n' ? L' ' : c;
    }
    return line;
}

// ---------------------------------------------------------------------------
// Windows of the tool

std::wstring windowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &length))
        return std::wstring();
    std::vector<wchar_t> buffer(length + 2);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &copied))
        return std::wstring();
    return std::wstring(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
}

std::wstring className(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct Tool {
    HWND main = nullptr;
    DWORD pid = 0;
    HANDLE process = nullptr;

    ~Tool()
    {
        if (process)
            CloseHandle(process);
    }
    HWND item(int id) const { return GetDlgItem(main, id); }
};

// Waits for the main window to exist and opens the tool's process.
bool findTool(Tool& tool, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        tool.main = FindWindowW(L"#32770", DIALOG_CAPTION);
        if (tool.main)
            break;
        if (GetTickCount() - start > timeoutMs) {
            fail(L"no window titled \"" + std::wstring(DIALOG_CAPTION) + L"\"");
            return false;
        }
        Sleep(100);
    }
    GetWindowThreadProcessId(tool.main, &tool.pid);
    tool.process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE
                                   | PROCESS_QUERY_INFORMATION | SYNCHRONIZE,
                               FALSE, tool.pid);
    if (!tool.process) {
        fail(L"cannot open the tool's process, error " + std::to_wstring(GetLastError()));
        return false;
    }
    return true;
}

// The message boxes (and other dialogs) the tool shows besides its main window.
struct BoxSearch {
    const Tool* tool;
    std::vector<HWND> found;
};

BOOL CALLBACK collectBox(HWND window, LPARAM parameter)
{
    BoxSearch& search = *reinterpret_cast<BoxSearch*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search.tool->pid && window != search.tool->main && IsWindowVisible(window)
        && className(window) == L"#32770")
        search.found.push_back(window);
    return TRUE;
}

std::vector<HWND> toolBoxes(const Tool& tool)
{
    BoxSearch search{&tool, {}};
    EnumWindows(collectBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring boxText(HWND box)
{
    HWND text = GetDlgItem(box, ID_BOX_TEXT);
    return text ? windowText(text) : std::wstring();
}

// Waits for a box of the tool whose text `accept` takes; null on timeout.
template <typename Accept>
HWND waitForBox(const Tool& tool, Accept accept, std::wstring& text)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start <= g_timeoutMs) {
        for (HWND box : toolBoxes(tool)) {
            text = boxText(box);
            if (!text.empty() && accept(text))
                return box;
        }
        Sleep(100);
    }
    return nullptr;
}

// Presses a push button as a click would: the button itself tells its parent.
void pressButton(HWND parent, int id)
{
    HWND button = GetDlgItem(parent, id);
    if (button)
        PostMessageW(button, BM_CLICK, 0, 0);
    else
        PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

bool isReady(const Tool& tool)
{
    return windowText(tool.item(ID_STATUS)) == L"Ready" && IsWindowEnabled(tool.item(ID_REFRESH))
           && toolBoxes(tool).empty();
}

bool waitReady(const Tool& tool)
{
    const DWORD start = GetTickCount();
    while (!isReady(tool)) {
        if (GetTickCount() - start > g_timeoutMs) {
            fail(L"the tool did not become ready; its status line reads \"" + windowText(tool.item(ID_STATUS))
                 + L"\"");
            return false;
        }
        if (WaitForSingleObject(tool.process, 0) == WAIT_OBJECT_0) {
            fail(L"the tool has ended");
            return false;
        }
        Sleep(100);
    }
    return true;
}

// ---------------------------------------------------------------------------
// The item list, read across processes

class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t bytes) : m_process(process)
    {
        m_address = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer()
    {
        if (m_address)
            VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool ok() const { return m_address != nullptr; }
    char* at(size_t offset) const { return static_cast<char*>(m_address) + offset; }
    bool write(size_t offset, const void* data, size_t bytes) const
    {
        return WriteProcessMemory(m_process, at(offset), data, bytes, nullptr) != 0;
    }
    bool read(size_t offset, void* data, size_t bytes) const
    {
        return ReadProcessMemory(m_process, at(offset), data, bytes, nullptr) != 0;
    }

private:
    HANDLE m_process;
    void* m_address = nullptr;
};

constexpr int WINDOW_TEXT_CHARS = 1024;

struct RemoteItem {
    union {
        LVITEMW item;
        LVCOLUMNW column;
    };
    wchar_t text[WINDOW_TEXT_CHARS];
};

struct Row {
    bool ticked = false;
    std::vector<std::wstring> cells;
};

struct ListContents {
    std::vector<std::wstring> columns;
    std::vector<Row> rows;
};

LRESULT send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &result);
    return LRESULT(result);
}

std::wstring remoteText(const RemoteBuffer& remote)
{
    wchar_t text[WINDOW_TEXT_CHARS] = {};
    remote.read(offsetof(RemoteItem, text), text, sizeof text);
    text[WINDOW_TEXT_CHARS - 1] = L'\0';
    return text;
}

bool readList(const Tool& tool, ListContents& list)
{
    HWND control = tool.item(ID_LIST);
    if (!control) {
        fail(L"the window has no item list");
        return false;
    }
    RemoteBuffer remote(tool.process, sizeof(RemoteItem));
    if (!remote.ok()) {
        fail(L"cannot place a buffer in the tool's process, error " + std::to_wstring(GetLastError()));
        return false;
    }
    LPWSTR remoteTextAddress = reinterpret_cast<LPWSTR>(remote.at(offsetof(RemoteItem, text)));
    // Places the request and an empty text in the tool's process, asks the
    // list, and reads back the text it wrote there.
    auto askText = [&](UINT message, WPARAM wParam, const auto& request) {
        remote.write(0, &request, sizeof request);
        remote.write(offsetof(RemoteItem, text), L"", sizeof(wchar_t));
        send(control, message, wParam, reinterpret_cast<LPARAM>(remote.at(0)));
        return remoteText(remote);
    };

    HWND header = reinterpret_cast<HWND>(send(control, LVM_GETHEADER, 0, 0));
    const int columnCount = header ? int(send(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    for (int c = 0; c < columnCount; ++c) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT;
        column.pszText = remoteTextAddress;
        column.cchTextMax = WINDOW_TEXT_CHARS;
        list.columns.push_back(askText(LVM_GETCOLUMNW, WPARAM(c), column));
    }

    const int rowCount = int(send(control, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < rowCount; ++r) {
        Row row;
        const UINT state = UINT(send(control, LVM_GETITEMSTATE, WPARAM(r), LVIS_STATEIMAGEMASK));
        row.ticked = (state >> 12) == 2;
        for (int c = 0; c < (columnCount ? columnCount : 1); ++c) {
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.iItem = r;
            item.iSubItem = c;
            item.pszText = remoteTextAddress;
            item.cchTextMax = WINDOW_TEXT_CHARS;
            row.cells.push_back(askText(LVM_GETITEMTEXTW, WPARAM(r), item));
        }
        list.rows.push_back(row);
    }
    return true;
}

int columnIndex(const ListContents& list, const wchar_t* title)
{
    for (size_t c = 0; c < list.columns.size(); ++c)
        if (list.columns[c] == title)
            return int(c);
    return -1;
}

void printList(const ListContents& list)
{
    // Column widths from the texts, each capped so one long path keeps the
    // table readable; the last column is never padded.
    const size_t columns = list.columns.size();
    std::vector<size_t> width(columns, 0);
    for (size_t c = 0; c < columns; ++c) {
        width[c] = list.columns[c].size();
        for (const Row& row : list.rows)
            if (c < row.cells.size() && row.cells[c].size() > width[c])
                width[c] = row.cells[c].size();
        if (width[c] > 60)
            width[c] = 60;
    }
    auto line = [&](const std::wstring& mark, const std::vector<std::wstring>& cells) {
        std::wstring text = mark;
        for (size_t c = 0; c < cells.size(); ++c) {
            std::wstring cell = cells[c];
            if (c + 1 < cells.size()) {
                if (cell.size() > width[c])
                    cell = cell.substr(0, width[c] - 3) + L"...";
                cell.resize(width[c], L' ');
                cell += L"  ";
            }
            text += cell;
        }
        while (!text.empty() && text.back() == L' ')
            text.pop_back();
        out(text + L"\n");
    };
    line(L"    ", list.columns);
    for (const Row& row : list.rows)
        line(row.ticked ? L"[x] " : L"[ ] ", row.cells);

    const int state = columnIndex(list, L"State");
    size_t ticked = 0, migrated = 0, failed = 0;
    for (const Row& row : list.rows) {
        ticked += row.ticked;
        if (state >= 0 && size_t(state) < row.cells.size()) {
            migrated += row.cells[state] == L"Migrated";
            failed += row.cells[state].compare(0, 7, L"Failed:") == 0;
        }
    }
    out(L"rows: " + std::to_wstring(list.rows.size()) + L", ticked: " + std::to_wstring(ticked)
        + L", migrated: " + std::to_wstring(migrated) + L", failed: " + std::to_wstring(failed) + L"\n");
}

// ---------------------------------------------------------------------------
// Commands

int commandWaitReady(const Tool& tool)
{
    if (!waitReady(tool))
        return 1;
    // As a click on it would: the window comes to the front, active.
    SetForegroundWindow(tool.main);
    const int rows = int(send(tool.item(ID_LIST), LVM_GETITEMCOUNT, 0, 0));
    out(L"ready: status \"Ready\", " + std::to_wstring(rows) + L" rows\n");
    return 0;
}

int commandList(const Tool& tool)
{
    ListContents list;
    if (!readList(tool, list))
        return 1;
    printList(list);
    return 0;
}

// Answers the closing box and waits for the tool to be ready again.
int acknowledge(const Tool& tool)
{
    std::wstring text;
    HWND box = waitForBox(tool, [](const std::wstring& t) { return t.compare(0, 24, CONFIRM_TEXT_START) != 0; }, text);
    if (!box) {
        fail(L"no message box to answer");
        return 1;
    }
    pressButton(box, IDOK);
    if (!waitReady(tool))
        return 1;
    out(L"answered: OK; status \"Ready\"\n");
    return 0;
}

int commandMigrate(const Tool& tool, bool leaveBox)
{
    if (!waitReady(tool))
        return 1;
    if (!IsWindowEnabled(tool.item(ID_MIGRATE))) {
        fail(L"Migrate is disabled (no items were found)");
        return 1;
    }
    pressButton(tool.main, ID_MIGRATE);

    std::wstring text;
    HWND box = waitForBox(tool, [](const std::wstring&) { return true; }, text);
    if (!box) {
        fail(L"Migrate asked nothing");
        return 1;
    }
    if (text == NO_ITEMS_TEXT) {
        out(L"box: " + text + L"\n");
        pressButton(box, IDOK);
        return 1;
    }
    if (text.compare(0, 24, CONFIRM_TEXT_START) != 0) {
        fail(L"unexpected box: " + oneLine(text));
        return 1;
    }
    out(L"confirmation: " + oneLine(text) + L"\n");
    pressButton(box, IDYES);
    out(L"answered: Yes\n");

    // The next box closes the run: success, or how many items failed.
    box = waitForBox(tool, [](const std::wstring& t) { return t.compare(0, 24, CONFIRM_TEXT_START) != 0; }, text);
    if (!box) {
        fail(L"the migration did not finish; status \"" + windowText(tool.item(ID_STATUS)) + L"\"");
        return 1;
    }
    out(L"closing box: " + oneLine(text) + L"\n");
    if (leaveBox)
        return 0;
    return acknowledge(tool);
}

BOOL CALLBACK closeHelpWindow(HWND window, LPARAM parameter)
{
    const Tool& tool = *reinterpret_cast<const Tool*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == tool.pid && className(window) == L"HH Parent") {
        const std::wstring title = windowText(window);
        PostMessageW(window, WM_CLOSE, 0, 0);
        out(L"closed help window \"" + title + L"\"\n");
    }
    return TRUE;
}

int commandCloseHelp(const Tool& tool)
{
    EnumWindows(closeHelpWindow, reinterpret_cast<LPARAM>(&tool));
    return 0;
}

BOOL CALLBACK printWindow(HWND window, LPARAM parameter)
{
    const Tool& tool = *reinterpret_cast<const Tool*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != tool.pid)
        return TRUE;
    RECT rect = {};
    GetWindowRect(window, &rect);
    out(std::wstring(IsWindowVisible(window) ? L"visible " : L"hidden  ") + (window == GetForegroundWindow() ? L"active " : L"       ")
        + std::to_wstring(rect.left) + L"," + std::to_wstring(rect.top) + L" " + std::to_wstring(rect.right - rect.left)
        + L"x" + std::to_wstring(rect.bottom - rect.top) + L"  " + className(window) + L"  \"" + windowText(window)
        + L"\"\n");
    return TRUE;
}

// Where the main window is on the screen, as WIDTHxHEIGHT+X+Y.
int commandRect(const Tool& tool)
{
    RECT rect = {};
    GetWindowRect(tool.main, &rect);
    out(std::to_wstring(rect.right - rect.left) + L"x" + std::to_wstring(rect.bottom - rect.top) + L"+"
        + std::to_wstring(rect.left) + L"+" + std::to_wstring(rect.top) + L"\n");
    return 0;
}

// The tool's top-level windows, for finding out what is on the screen.
int commandWindows(const Tool& tool)
{
    EnumWindows(printWindow, reinterpret_cast<LPARAM>(&tool));
    return 0;
}

int commandClose(const Tool& tool)
{
    if (!waitReady(tool))
        return 1;
    pressButton(tool.main, ID_DONE);
    if (WaitForSingleObject(tool.process, g_timeoutMs) != WAIT_OBJECT_0) {
        fail(L"the tool did not end after Done");
        return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(tool.process, &code);
    out(L"closed: the tool ended with code " + std::to_wstring(code) + L"\n");
    return 0;
}

int usage()
{
    out(L"usage: demo_driver wait-ready|list|migrate [--leave-box]|ack|close-help|close|windows|rect\n"
        L"                   [--timeout S]\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2)
        return usage();
    const std::wstring command = argv[1];
    bool leaveBox = false;
    for (int i = 2; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--leave-box")
            leaveBox = true;
        else if (option == L"--timeout" && i + 1 < argc)
            g_timeoutMs = DWORD(_wtoi(argv[++i])) * 1000;
        else
            return usage();
    }

    Tool tool;
    if (!findTool(tool, g_timeoutMs))
        return 1;
    if (command == L"wait-ready")
        return commandWaitReady(tool);
    if (command == L"list")
        return commandList(tool);
    if (command == L"migrate")
        return commandMigrate(tool, leaveBox);
    if (command == L"ack")
        return acknowledge(tool);
    if (command == L"close-help")
        return commandCloseHelp(tool);
    if (command == L"close")
        return commandClose(tool);
    if (command == L"windows")
        return commandWindows(tool);
    if (command == L"rect")
        return commandRect(tool);
    return usage();
}
