# Seeded faults of the common layer: the file layer, the path utilities, the
# trace and the language loader. Each is one mistake a developer could make
# in what these modules promise (their header comments and the user's guide).
from faults import Fault

FAULTS = [
    # --- file layer: checked handles (checked_file) ---------------------------
    Fault("files-1", "file layer", "common/files/checked_file.cpp",
          find=r'''    if (standard.NumberOfLinks > 1) {''',
          replace=r'''    if (standard.NumberOfLinks > 2) {''',
          breaks="a file with a second name (a hard link) is read or replaced below the installation directories"),
    Fault("files-2", "file layer", "common/files/checked_file.cpp",
          find=r'''    if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || m_resolved.empty() || folder.Resolved().empty()
        || !sameIgnoringCase(m_resolved, joined(folder.Resolved(), name))) {''',
          replace=r'''    if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || m_resolved.empty() || folder.Resolved().empty()) {''',
          breaks="a source, destination or folder that is a link is followed where the system shows links only by their final path (Wine)"),
    Fault("files-3", "file layer", "common/files/checked_file.cpp",
          find=r'''        m_path = std::move(next.m_path);
        m_resolved = std::move(next.m_resolved);''',
          replace=r'''        m_path = std::move(next.m_path);''',
          breaks="files in a folder below a root (the zelt files) fail their rows as links"),
    Fault("files-4", "file layer", "common/files/checked_file.cpp",
          find=r'''    const std::wstring key = foldedCase(joined(root, relative));''',
          replace=r'''    const std::wstring key = foldedCase(root);''',
          breaks="files meant for a subfolder (zelt) are read from or written into the installation directory itself"),
    Fault("files-5", "file layer", "common/files/checked_file.cpp",
          find=r'''                  FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE, failure);''',
          replace=r'''                  FILE_NON_DIRECTORY_FILE, failure);''',
          breaks="quarnrept_migrate.lock stays in \"migration backups\" after every migration and restore"),

    # --- file layer: the replacing writer and its flushing --------------------
    Fault("files-6", "file layer", "common/files/replacing_writer.cpp",
          find=r'''    if (!m_file.RenameIn(*m_folder, m_name, m_replacing, failure))''',
          replace=r'''    if (!m_file.RenameIn(*m_folder, m_name, true, failure))''',
          breaks="a file that appears at a new destination during the run is overwritten without being kept"),
    Fault("files-7", "file layer", "common/files/replacing_writer.cpp",
          find=r'''        if (!isAdministratorsOrSystem(owner)) {
            m_carrying = false;''',
          replace=r'''        if (!isAdministratorsOrSystem(owner)) {''',
          breaks="a report or backup file that another account made keeps that account's access list when it is replaced"),
    Fault("files-8", "file layer", "common/files/replacing_writer.cpp",
          find=r'''    } else if (to != WriteTo::NewFile) {''',
          replace=r'''    } else if (to == WriteTo::AnyFile) {''',
          breaks="the report, restore.cmd or quarnrept_mig.reg cannot be written over one that is already there"),
    Fault("files-9", "file layer", "common/files/replacing_writer.cpp",
          find=r'''constexpr DWORD CARRIED_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;''',
          replace=r'''constexpr DWORD CARRIED_ATTRIBUTES = FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;''',
          breaks="a hidden 5.2.2 file is no longer hidden once the migration has replaced it"),
    Fault("files-10", "file layer", "common/files/replacing_writer.cpp",
          find=r'''    const size_t dot = hexRun(dash + 1, L'.');''',
          replace=r'''    const size_t dot = hexRun(dash, L'.');''',
          breaks="the ~qm*.tmp files a stopped run left are never removed by the next run or the restore"),
    Fault("files-11", "file layer", "common/files/write_behind.cpp",
          find=r'''        m_file = file;
        m_due.Attach(CreateEventW(nullptr, FALSE, FALSE, nullptr));''',
          replace=r'''        m_due.Attach(CreateEventW(nullptr, FALSE, FALSE, nullptr));''',
          breaks="every file over 8 MiB fails its row with an invalid-handle error"),

    # --- file layer: fingerprint ----------------------------------------------
    Fault("files-12", "file layer", "common/files/fingerprint.cpp",
          find=r'''        unsigned first = m_lanes[0];
        for (unsigned i = 0; i < m_pendingCount; ++i)
            first = (first ^ m_pending[i]) * FNV_PRIME_32;''',
          replace=r'''        unsigned first = m_lanes[0];''',
          breaks="the restore deletes a created file that someone changed only in its last few bytes"),
    Fault("files-13", "file layer", "common/files/fingerprint.cpp",
          find=r'''    return colon != std::wstring::npos && text.size() - colon - 1 == 16 ? Style::Words64 : Style::Lanes;''',
          replace=r'''    return colon != std::wstring::npos && text.size() - colon - 1 == 32 ? Style::Words64 : Style::Lanes;''',
          breaks="the restore keeps every file the run created, each with an ERROR line, as no fingerprint matches"),

    # --- file layer: block transfer -------------------------------------------
    Fault("files-14", "file layer", "common/files/block_transfer.cpp",
          find=r'''    return at > count ? count - 1 : count;''',
          replace=r'''    return count;''',
          breaks="in a double-byte OEM code page a character split across two blocks is garbled in the converted file"),
    Fault("files-15", "file layer", "common/files/block_transfer.cpp",
          find=r'''    if (!m_file.Rewind(failure))
        return false;
    if (!m_block) {''',
          replace=r'''    if (!m_block) {''',
          breaks="replacing a 5.2.2 file from a source larger than one block fails with \"The file changed while it was read\""),

    # --- file layer: text files -----------------------------------------------
    Fault("files-16", "file layer", "common/files/text_file.cpp",
          find=r'''            text.resize(wcslen(text.c_str() + 1) + 1);
            text.erase(0, 1);''',
          replace=r'''            text.resize(wcslen(text.c_str() + 1) + 1);''',
          breaks="UTF-16 text read back keeps its byte-order mark as a first character: the renamed registry file is broken"),
    Fault("files-17", "file layer", "common/files/text_file.cpp",
          find=r'''            ok = writer.Write(UTF16_MARK, sizeof UTF16_MARK, failure)
                && writer.Write(text.data(), text.size() * sizeof(wchar_t), failure);''',
          replace=r'''            ok = writer.Write(text.data(), text.size() * sizeof(wchar_t), failure);''',
          breaks="quarnrept_mig.reg is written without the FF FE mark, so the registry editor cannot import it"),

    # --- file layer: file failures --------------------------------------------
    Fault("files-18", "file layer", "common/files/file_failure.cpp",
          find=r'''    case ERROR_FILE_NOT_FOUND:
        return FILE_CAUSE_NOT_FOUND;
    case ERROR_PATH_NOT_FOUND:''',
          replace=r'''    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:''',
          breaks="a destination that does not exist yet is taken for a failure: every new file's row fails \"cannot write\""),
    Fault("files-19", "file layer", "common/files/file_failure.cpp",
          find=r'''    failure.cause = cause;
    failure.osError = osError;''',
          replace=r'''    failure.cause = cause;''',
          breaks="a row that fails on a system error reads \"Unknown file error\" instead of the system's reason"),

    # --- path utilities -------------------------------------------------------
    Fault("path-1", "path utilities", "common/cmd/path_util.cpp",
          find=r'''            if (path[i] == L'\\' && ++slashes == 4)''',
          replace=r'''            if (path[i] == L'\\' && ++slashes == 3)''',
          breaks="a UNC path splits with a drive of \\\\server alone, and its share, directory and name are lost"),
    Fault("path-2", "path utilities", "common/cmd/path_util.cpp",
          find=r'''    if (!path)
        return;
    while (*path && iswspace(*path))
        ++path;''',
          replace=r'''    if (!path)
        return;''',
          breaks="a path with leading blanks splits into a wrong drive and directory"),
    Fault("path-3", "path utilities", "common/cmd/console_path.cpp",
          find=r'''    if (key.Open(HKEY_LOCAL_MACHINE, GA_INSTALL_KEY) != ERROR_SUCCESS)''',
          replace=r'''    if (key.Open(HKEY_LOCAL_MACHINE, BETA_INSTALL_KEY) != ERROR_SUCCESS)''',
          breaks="the console's libraries (exec_dll.dll, msgengu.dll) are looked for in the beta add-on's directory"),
    Fault("path-4", "path utilities", "common/cmd/path_util.cpp",
          find=r'''    wcscat_s(shortPath, capacity, name);
    wcscat_s(shortPath, capacity, ext);''',
          replace=r'''    wcscat_s(shortPath, capacity, name);''',
          breaks="the short form of a file that does not exist yet loses its extension"),
    Fault("path-5", "path utilities", "common/cmd/console_path.cpp",
          find=r'''    return (path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))''',
          replace=r'''    return (path.size() > 1 && path[1] == L':')''',
          breaks="a drive-relative Path such as C:Quarn is taken as the console's directory and used relative to the current directory"),
    Fault("path-7", "path utilities", "common/cmd/console_path.cpp",
          find=r'''    if (!isFullPath(directory) || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)''',
          replace=r'''    if (!isFullPath(directory) || attributes == INVALID_FILE_ATTRIBUTES''',
          breaks="a Path value naming a file, not a directory, is taken as the console's directory"),
    Fault("trace-1", "trace", "common/trace/trace.cpp",
          find=r'''            if (*p == L'\n')
                m_block[m_used++] = L'\r';
            m_block[m_used++] = *p;''',
          replace=r'''            m_block[m_used++] = *p;''',
          breaks="trace lines end in a bare LF, not CR LF: Notepad shows the trace as one long line"),
    Fault("trace-2", "trace", "common/trace/trace.cpp",
          find=r'''        if (*p == L'\\' || *p == L'/' || *p == L':')''',
          replace=r'''        if (*p == L'\\' || *p == L':')''',
          breaks="a trace header names the whole source path written with slashes instead of the file name"),
    Fault("trace-3", "trace", "common/trace/trace.cpp",
          find=r'''information.nNumberOfLinks <= 1''',
          replace=r'''information.nNumberOfLinks <= 2''',
          breaks="a trace file that is a second name of another file is opened and that file is overwritten"),
    Fault("trace-4", "trace", "common/trace/trace.cpp",
          find=r'''    if (!(append ? SetFilePointerEx(file, zero, nullptr, FILE_END) : SetEndOfFile(file))) {''',
          replace=r'''    if (append && !SetFilePointerEx(file, zero, nullptr, FILE_END)) {''',
          breaks="a new trace is not emptied first: the end of the previous, longer trace stays behind the new one"),
    Fault("trace-5", "trace", "common/trace/trace.cpp",
          find=r'''    const wchar_t bom = 0xFEFF;
    fwrite(&bom, sizeof bom, 1, stream);''',
          replace=r'''    const wchar_t bom = 0xFEFF;''',
          breaks="the trace file has no FF FE mark, so it does not open as UTF-16 text"),
    Fault("trace-6", "trace", "common/trace/trace.cpp",
          find=r'''                     && !(information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
                     && reachesEntryItself(file, directory, name);''',
          replace=r'''                     && !(information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));''',
          breaks="a trace file that is a link is followed (under Wine) and the file it leads to is overwritten"),
    Fault("trace-7", "trace", "common/trace/trace.cpp",
          find=r'''    if (g_stream) {
        g_fileEnabled = 0;
        fclose(g_stream);
        g_stream = nullptr;
    }''',
          replace=r'''    if (g_stream) {
        g_fileEnabled = 0;
        g_stream = nullptr;
    }''',
          breaks="opening the trace a second time leaves the first file held open, and reopening the same file is refused"),
    Fault("trace-8", "trace", "common/trace/trace.cpp",
          find=r'''                writer.Add(m_text.data() + begin, line.end - begin);
                begin = line.end;''',
          replace=r'''                writer.Add(m_text.data() + begin, line.end - begin);''',
          breaks="lines traced together (the rows added to the list) repeat the text of all the lines before them"),
    Fault("trace-9", "trace", "common/trace/trace.cpp",
          find=r'''                  unsigned(now.wMonth), unsigned(now.wDay), unsigned(now.wYear),''',
          replace=r'''                  unsigned(now.wDay), unsigned(now.wMonth), unsigned(now.wYear),''',
          breaks="the date in every trace header reads day/month instead of month/day"),

    # --- language loader ------------------------------------------------------
    Fault("nls-1", "language loader", "common/msg/nls_resources.cpp",
          find=r'''    int length = LoadStringW(state.hMessageLibrary, id, buffer.get(), NLS_MESSAGE_CHARS);
    if (length <= 0)
        length = LoadStringW(state.hDefaultMessageLibrary, id, buffer.get(), NLS_MESSAGE_CHARS);''',
          replace=r'''    int length = LoadStringW(state.hMessageLibrary, id, buffer.get(), NLS_MESSAGE_CHARS);''',
          breaks="a message the chosen language's library lacks is not taken from the English one"),
    Fault("nls-2", "language loader", "common/msg/nls_resources.cpp",
          find=r'''                                            state.languageFound ? state.languageCode.c_str()
                                                                : NLS_DEFAULT_LANGUAGE);''',
          replace=r'''                                            state.languageFound ? NLS_DEFAULT_LANGUAGE
                                                                : state.languageCode.c_str());''',
          breaks="on a system whose language the console has, the texts come in English all the same"),
    Fault("nls-3", "language loader", "common/msg/nls_resources.cpp",
          find=r'''        state.languageCode = name;
        return;''',
          replace=r'''        state.languageCode = name;''',
          breaks="when two languages list the system's LCID, the last one is loaded instead of the first"),
    Fault("nls-4", "language loader", "common/msg/nls_resources.cpp",
          find=r'''            std::wstring token = list.substr(pos, comma - pos);''',
          replace=r'''            std::wstring token = list.substr(pos, comma);''',
          breaks="an LCID in the middle of a language's list is not recognised, so English is shown"),
    Fault("nls-5", "language loader", "common/msg/nls_resources.cpp",
          find=r'''        if (c >= L'A' && c <= L'F')
            count = DWORD(c - L'A' + 10);
        else if (c >= L'a' && c <= L'f')
            count = DWORD(c - L'a' + 10);''',
          replace=r'''        if (c >= L'A' && c <= L'F')
            count = DWORD(c - L'A' + 10);''',
          breaks="an LCID written in lower-case hexadecimal (0c07) is not recognised, so English is shown"),
    Fault("nls-8", "language loader", "common/msg/nls_resources.cpp",
          find=r'''    }
    directory += L"\\";
    if (found == ConsolePathLookup::NotADirectory) {''',
          replace=r'''    }
    if (found == ConsolePathLookup::NotADirectory) {''',
          breaks="every start shows \"Could not load the NLS resource dll\": the library name is glued to the directory's"),
    Fault("nls-9", "language loader", "common/msg/nls_resources.cpp",
          find=r'''    if (found == ConsolePathLookup::NoKey || found == ConsolePathLookup::NoPathValue) {''',
          replace=r'''    if (found == ConsolePathLookup::NoKey) {''',
          breaks="a console key without a Path value shows \"Could not load the NLS resource dll\" instead of \"not properly installed\""),
]
