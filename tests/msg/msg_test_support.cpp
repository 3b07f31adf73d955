#include "tests/msg/msg_test_support.h"

#include "common/cmd/console_path.h"
#include "common/msg/nls_resources.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <stdexcept>

namespace qmtest {

std::wstring standinDirectory()
{
    wchar_t exe[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir(exe, length);
    dir.erase(dir.find_last_of(L"\\/"));
    std::wstring relative = QM_STANDIN_RELATIVE_DIR;
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    return dir + L"\\" + relative;
}

void resetLanguageState()
{
    nlsState() = NlsState();
}

ScratchConsole::ScratchConsole()
{
    setPath(m_dir.path());
    createRegKey(NLS_LANGUAGES_KEY);
}

void ScratchConsole::installLibrary(const std::wstring& lang)
{
    const std::wstring name = L"msg" + lang + L"u.dll";
    const std::wstring from = standinDirectory() + L"\\" + name;
    if (!CopyFileW(from.c_str(), (m_dir / name).c_str(), FALSE))
        throw std::runtime_error("cannot copy " + narrow(from));
}

void ScratchConsole::setPath(const std::wstring& path)
{
    setRegString(CONSOLE_KEY, CONSOLE_PATH_VALUE, path);
}

void ScratchConsole::setLanguages(std::initializer_list<std::pair<std::wstring, std::wstring>> languages)
{
    for (const auto& [name, lcids] : languages)
        setRegString(NLS_LANGUAGES_KEY, name, lcids);
}

std::wstring systemLcidText()
{
    wchar_t text[16];
    swprintf(text, 16, L"%04lX", static_cast<unsigned long>(GetSystemDefaultLCID()));
    return text;
}

MessageBoxWatcher::MessageBoxWatcher() : m_thread([this] { run(); }) {}

MessageBoxWatcher::~MessageBoxWatcher()
{
    m_stop = true;
    m_thread.join();
}

std::vector<MessageBoxWatcher::Box> MessageBoxWatcher::boxes() const
{
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_boxes;
}

std::vector<std::wstring> MessageBoxWatcher::texts() const
{
    std::vector<std::wstring> result;
    for (const Box& box : boxes())
        result.push_back(box.text);
    return result;
}

namespace {

struct BoxSearch {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK collectBox(HWND hwnd, LPARAM param)
{
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (process == search->process && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hwnd))
        search->found.push_back(hwnd);
    return TRUE;
}

} // namespace

void MessageBoxWatcher::run()
{
    BoxSearch search{GetCurrentProcessId(), {}};
    while (!m_stop) {
        search.found.clear();
        EnumWindows(collectBox, reinterpret_cast<LPARAM>(&search));

        {
            std::lock_guard<std::mutex> hold(m_mutex);
            // A closed box's handle may come back for a later one.
            m_seen.erase(std::remove_if(m_seen.begin(), m_seen.end(), [](HWND h) { return !IsWindow(h); }),
                         m_seen.end());
            for (HWND hwnd : search.found) {
                if (std::find(m_seen.begin(), m_seen.end(), hwnd) != m_seen.end())
                    continue;
                m_seen.push_back(hwnd);
                wchar_t caption[512] = {};
                wchar_t text[4096] = {};
                GetWindowTextW(hwnd, caption, 512);
                GetDlgItemTextW(hwnd, 0xFFFF, text, 4096);
                m_boxes.push_back({caption, text});
                const int button = GetDlgItem(hwnd, IDOK) ? IDOK : IDCANCEL;
                PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<std::wstring> directoryNames(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace qmtest
