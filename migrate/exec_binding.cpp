#include "migrate/exec_binding.h"

#include "common/files/checked_file.h"
#include "common/cmd/console_path.h"
#include "common/fs/owner.h"
#include "common/trace/trace.h"

#include <cwchar>

namespace {

const wchar_t EXEC_LIBRARY_NAME[] = L"exec_dll.dll";

// Loads a library of the console's installation, as code, by its full path,
// once its file has passed the checks of checked_file.h on its own handle;
// its owner is traced. The libraries it needs are looked for in its own
// directory first, then in System32; never in the current directory or
// along PATH. Null with `failure` otherwise (a relative path:
// ERROR_BAD_PATHNAME).
HMODULE loadConsoleLibrary(const std::wstring& path, FileFailure& failure)
{
    // A relative path would be looked for in the current directory and along
    // PATH, where others may have put a library of theirs.
    if (!isFullPath(path)) {
        failure = systemFailure(ERROR_BAD_PATHNAME);
        return nullptr;
    }
    // The library runs as code in the elevated tool. It is opened by handle
    // and checked there (no link, no second name), and held, shared for
    // reading only, until the loader has mapped it: nobody can write, rename
    // or replace it in between.
    CCheckedDir folder;
    CInFile file;
    std::wstring name;
    if (!folder.OpenFolderOf(path, name, failure) || !file.OpenToRun(folder, name, failure)) {
        QM_TRACE(TRACE_CAT_APP, L"%s is not loaded: %s\n", path.c_str(), describeFileFailure(failure).c_str());
        return nullptr;
    }
    QM_TRACE(TRACE_CAT_APP, L"Loading %s, which belongs to %s\n", path.c_str(), ownerName(file.Get()).c_str());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the search flags (before update KB2533623) refuse them;
    // the altered search path also starts in the library's directory.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        failure = lastSystemFailure();
    return module;
}

// Reports the null slots of the table, each with its own line; true when none is null.
bool allEntriesPresent(const ExecEntryPoints& entries)
{
    struct Slot {
        bool present;
        const wchar_t* format;
    };
    const Slot slots[] = {
        {entries.execGetVersion != nullptr, L"Failed to get execGetVersion address from %s\n"},
        {entries.execIssueCommand != nullptr, L"Failed to get execIssueCommand address from %s\n"},
        {entries.execFreeResults != nullptr, L"Failed to get execFreeResults address from %s\n"},
        {entries.execErrorString != nullptr, L"Failed to get execErrorString address from %s\n"},
        {entries.execWriteFile != nullptr, L"Failed to get execWriteFile from %s\n"},
    };
    bool all = true;
    for (const Slot& slot : slots) {
        if (slot.present)
            continue;
        all = false;
        QM_TRACE(TRACE_CAT_APP, slot.format, EXEC_LIBRARY_NAME);
    }
    return all;
}

int issueCommand(const std::wstring& command, const std::wstring& directory, const wchar_t* outputTarget,
                 ExecOutcome& outcome)
{
    // The request has fixed fields: refuse what does not fit rather than run
    // a command that was cut short.
    if (command.size() > EXEC_MAX_COMMAND) {
        QM_TRACE(TRACE_CAT_APP, L"Command too long (%u characters), not issued: %s\n", unsigned(command.size()),
                 command.c_str());
        return EXEC_COMMAND_TOO_LONG;
    }
    if (directory.size() > EXEC_MAX_DIRECTORY) {
        QM_TRACE(TRACE_CAT_APP, L"Directory too long (%u characters), not issued: %s\n", unsigned(directory.size()),
                 directory.c_str());
        return EXEC_DIRECTORY_TOO_LONG;
    }

    std::wstring libraryPath;
    if (!GetConsoleInstallPath(EXEC_LIBRARY_NAME, libraryPath)) {
        QM_TRACE(TRACE_CAT_APP, L"Console directory not known; %s not loaded\n", EXEC_LIBRARY_NAME);
        return EXEC_NOT_LOADED;
    }

    // Loaded on every call and never freed: the reference count keeps one copy
    // mapped, and the library stays for the life of the process.
    outcome.library = libraryPath;
    FileFailure failure;
    HMODULE library = loadConsoleLibrary(libraryPath, failure);
    if (!library) {
        outcome.loadError = failure.osError;
        outcome.loadRefusal = checkRefusal(failure);
        QM_TRACE(TRACE_CAT_APP, L"Unable to load %s, error %u\n", libraryPath.c_str(), unsigned(outcome.loadError));
        return EXEC_NOT_LOADED;
    }

    auto getEntryPoints = reinterpret_cast<ExecGetEntryPointsFn>(
        reinterpret_cast<void*>(GetProcAddress(library, EXEC_GET_ENTRY_POINTS_NAME)));
    if (!getEntryPoints) {
        QM_TRACE(TRACE_CAT_APP, L"Failed to get execGetEntryPoints entry point from %s\n", EXEC_LIBRARY_NAME);
        return EXEC_NO_ENTRY_POINTS;
    }

    ExecEntryPoints entries = {};
    const int usable = getEntryPoints(library, &entries);
    if (!allEntriesPresent(entries))
        return EXEC_ENTRY_MISSING;
    if (!usable) {
        QM_TRACE(TRACE_CAT_APP, L"execGetEntryPoints of %s reports the library unusable\n", EXEC_LIBRARY_NAME);
        return EXEC_ENTRY_MISSING;
    }

    const unsigned version = entries.execGetVersion();
    QM_TRACE(TRACE_CAT_APP, L"Quarn EXEC DLL version: %u\n", version);

    ExecRequest request = {};
    request.rc = -1;
    directory.copy(request.directory, directory.size());
    command.copy(request.command, command.size());
    request.results = nullptr;

    QM_TRACE(TRACE_CAT_APP, L"Issuing: %s\n", command.c_str());
    const int issued = entries.execIssueCommand(&request);
    QM_TRACE(TRACE_CAT_APP, L"Results: %u\n", unsigned(issued));

    int result;
    if (!issued) {
        outcome.libraryError = request.rc;
        wchar_t text[512] = {};
        if (entries.execErrorString(request.rc, text, int(sizeof text / sizeof text[0])) > 0) {
            text[sizeof text / sizeof text[0] - 1] = L'\0';
            outcome.libraryErrorText = text;
        }
        QM_TRACE(TRACE_CAT_APP, L"The library could not run the command, rc: %d %s\n", int(request.rc),
                 outcome.libraryErrorText.c_str());
        result = EXEC_LIBRARY_FAILED;
    } else if (!request.results) {
        QM_TRACE(TRACE_CAT_APP, L"\nResults: empty\n");
        outcome.exitCode = DWORD(request.rc);
        result = EXEC_NO_OUTPUT;
    } else {
        QM_TRACE(TRACE_CAT_APP, L"Obtained Results. Length: %u\n", unsigned(wcslen(request.results)));
        outcome.exitCode = DWORD(request.rc);
        outcome.output = request.results;
        if (outputTarget)
            entries.execWriteFile(outputTarget, request.results);
        const int freed = entries.execFreeResults(request.results);
        request.results = nullptr;
        QM_TRACE(TRACE_CAT_APP, L"after free Results, rc: %u\n", unsigned(freed));
        result = EXEC_DONE;
    }

    QM_TRACE(TRACE_CAT_APP, L"past exec completion, rc: %u\n", unsigned(request.rc));
    return result;
}

} // namespace

int runExecCommand(const std::wstring& command, const std::wstring& directory, const wchar_t* outputTarget,
                   ExecOutcome* outcome)
{
    ExecOutcome ignored;
    try {
        return issueCommand(command, directory, outputTarget, outcome ? *outcome : ignored);
    } catch (...) {
        QM_TRACE(TRACE_CAT_APP, L"Exception while issuing: %s\n", command.c_str());
        return EXEC_EXCEPTION;
    }
}
