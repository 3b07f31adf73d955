from faults import Fault

FAULTS = [
    # ---- migration ------------------------------------------------------
    Fault("migrate-1", "migration", "migrate/migrate_worker.cpp",
          find=r'''            if (!view.ShowRecordRowIfTicked(record.id))
                continue;''',
          replace=r'''            view.ShowRecordRowIfTicked(record.id);''',
          breaks="rows the administrator unticked are migrated as well"),
    Fault("migrate-2", "migration", "migrate/migrate_worker.cpp",
          find=r'''        convert = toUnicode && !(size >= 2 && std::memcmp(data, UTF16LE_MARK, sizeof UTF16LE_MARK) == 0);''',
          replace=r'''        convert = toUnicode;''',
          breaks="a web summary file that is already Unicode is converted again instead of copied unchanged"),
    Fault("migrate-3", "migration", "migrate/migrate_worker.cpp",
          find=r'''                if (convert && holdsZeroByte(data, size)) {
                    zero = true;
                    return false;
                }
                writeFailed''',
          replace=r'''                writeFailed''',
          breaks="a file with zero bytes that has no 5.2.2 copy yet is converted instead of refused as not OEM text"),
    Fault("migrate-4", "migration", "migrate/migrate_worker.cpp",
          find=r'''        if (backup && !backup->KeepFile(backupRootOf(item.kind), item.destinationRoot, destinationName, reason, &held))
            return false;''',
          replace=r'''        if (backup)
            backup->KeepFile(backupRootOf(item.kind), item.destinationRoot, destinationName, reason, &held);''',
          breaks="a 5.2.2 file that cannot be backed up is replaced anyway and the row reads Migrated"),
    Fault("migrate-5", "migration", "migrate/migrate_worker.cpp",
          find=r'''                                destinationThere ? WriteTo::AnyFile : WriteTo::NewFile, &held);''',
          replace=r'''                                destinationThere ? WriteTo::NewFile : WriteTo::AnyFile, &held);''',
          breaks="every file that would replace an existing 5.2.2 file fails its row"),
    Fault("migrate-6", "migration", "migrate/migrate_worker.cpp",
          find=r'''                        : w32OemIsSingleByte()           ? 2 + 2 * blocks.Size()''',
          replace=r'''                        : w32OemIsSingleByte()           ? 2 * blocks.Size()''',
          breaks="a repeated run keeps and rewrites every converted file that already holds the same text, making a backup folder"),
    Fault("migrate-7", "migration", "migrate/migrate_worker.cpp",
          find=r'''        reason = readFailed ? L"cannot read " + source + L": " + describeFileFailure(failure)
                            : openFailure(L"cannot write ", destination, failure);''',
          replace=r'''        reason = readFailed ? openFailure(L"cannot write ", destination, failure)
                            : L"cannot read " + source + L": " + describeFileFailure(failure);''',
          breaks="a destination that cannot be written is reported as a source that cannot be read, and the other way round"),
    Fault("migrate-8", "migration", "migrate/migrate_worker.cpp",
          find=r'''                      + std::to_wstring(failed + migrated)''',
          replace=r'''                      + std::to_wstring(taken.size())''',
          breaks="the closing message counts the unticked rows in \"N of M items\""),
    Fault("migrate-9", "migration", "migrate/migrate_worker.cpp",
          find=r'''                                            ? openItemFolder(folders, record.item.kind, record.item.destinationRoot,''',
          replace=r'''                                            ? openItemFolder(folders, record.item.kind, record.item.sourceRoot,''',
          breaks="temporary files a stopped run left in the 5.2.2 directories are never removed"),
    Fault("migrate-10", "migration", "migrate/migrate_worker.cpp",
          find=r'''        if (backup && !destinationThere)
            backup->RecordNotCreated(item.destinationRoot, destinationName);
''',
          replace=r'''''',
          breaks="after a new file failed to take its name, restore.cmd treats whatever stands there as the run's file and reports an error"),

    # ---- backup and restore ---------------------------------------------
    Fault("backup-1", "backup and restore", "migrate/migration_backup.cpp",
          find=r'''    return writeWholeFile(m_dir, BACKUP_SCRIPT_FILE, script, reason)
        && writeWholeFile(m_dir, BACKUP_README_FILE, readme, reason);''',
          replace=r'''    return writeWholeFile(m_dir, BACKUP_SCRIPT_FILE, readme, reason)
        && writeWholeFile(m_dir, BACKUP_README_FILE, script, reason);''',
          breaks="restore.cmd holds the README text and restores nothing"),
    Fault("backup-2", "backup and restore", "migrate/migration_backup.cpp",
          find=r'''    if (m_folder.empty() || !m_kept.empty() || m_registryKept)''',
          replace=r'''    if (m_folder.empty() || !m_kept.empty())''',
          breaks="a run that kept only the registry key leaves a backup folder without restore.cmd"),
    Fault("backup-3", "backup and restore", "migrate/migration_backup.cpp",
          find=r'''    if (added.keys.empty() && added.values.empty() && !shortfallOf(after, m_registryBefore).missing) {''',
          replace=r'''    if (added.keys.empty() && added.values.empty()) {''',
          breaks="an import that only changed existing values drops Console.reg, so the restore cannot set them back"),
    Fault("backup-4", "backup and restore", "migrate/migration_backup.cpp",
          find=r'''    if (!AppendEntry(L"copy", copyName, destination, reason)) {''',
          replace=r'''    if (!AppendEntry(L"copy", destination, copyName, reason)) {''',
          breaks="restore.cmd cannot find the kept copies and puts no replaced file back"),
    Fault("backup-5", "backup and restore", "migrate/backup_folder.cpp",
          find=r'''const wchar_t BACKUP_FOLDER_ACCESS[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";''',
          replace=r'''const wchar_t BACKUP_FOLDER_ACCESS[] = L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";''',
          breaks="the backup folders inherit the installation's access list, so other accounts may read or change them"),
    Fault("backup-6", "backup and restore", "migrate/backup_folder.cpp",
          find=r'''    LocalFree(descriptor);
    return trusted;''',
          replace=r'''    LocalFree(descriptor);
    return true;''',
          breaks="a migration backups folder that another account made is used for the backup"),
    Fault("backup-8", "backup and restore", "migrate/backup_texts.cpp",
          find=r'''    if (size <= 0 || usedDefault)''',
          replace=r'''    if (size <= 0)''',
          breaks="a file whose path is outside the OEM code page is replaced, though restore.lst names it wrongly"),
    Fault("backup-9", "backup and restore", "migrate/backup_texts.cpp",
          find=r'''L"%04u-%02u-%02u %02u%ls%02u%ls%02u", start.wYear, start.wMonth, start.wDay, start.wHour,''',
          replace=r'''L"%04u-%02u-%02u %02u%ls%02u%ls%02u", start.wYear, start.wDay, start.wMonth, start.wHour,''',
          breaks="the backup folder is named with day and month swapped"),
    Fault("backup-10", "backup and restore", "migrate/backup_texts.cpp",
          find=r'''BACKUP_PROGRAM_FILE + L"\" /restore:\"%~dp0.\"",''',
          replace=r'''BACKUP_PROGRAM_FILE + L"\" /restore:\"%~dp0\"",''',
          breaks="restore.cmd passes its folder with a backslash that escapes the quote, and the restore fails"),
    Fault("backup-11", "backup and restore", "migrate/backup_restore.cpp",
          find=r'''            else if (entry.kind == L"unchanged")
                registry = false; // the import changed nothing: no key was kept
''',
          replace=r'''''',
          breaks="restoring a run whose import changed nothing fails on a Console.reg that is not there"),
    Fault("backup-12", "backup and restore", "migrate/backup_restore.cpp",
          find=r'''        if (entry.copy != L"-" && (!w32FingerprintOf(created.Get(), fingerprint, failure, CFingerprint::StyleOf(entry.copy))
                                     || fingerprint != entry.copy)) {''',
          replace=r'''        if (entry.copy != L"-" && (!w32FingerprintOf(created.Get(), fingerprint, failure, CFingerprint::StyleOf(entry.copy)))) {''',
          breaks="the restore deletes a created file even after someone changed it"),
    Fault("backup-13", "backup and restore", "migrate/backup_restore.cpp",
          find=r'''        for (const CCheckedDir* folder : m_sweep)
            w32RemoveLeftoverTemporaries(*folder);
''',
          replace=r'''''',
          breaks="the restore leaves the temporary files of a stopped run in place"),
    Fault("backup-14", "backup and restore", "migrate/key_restore.cpp",
          find=r'''    const TreeAdditions added = additionsIn(wanted, now);''',
          replace=r'''    const TreeAdditions added = additionsIn(now, wanted);''',
          breaks="the values and subkeys the import added stay after the restore"),
    Fault("backup-15", "backup and restore", "migrate/key_restore.cpp",
          find=r'''            rc = RegDeleteTreeW(parent.Get(), below.substr(slash + 1).c_str());''',
          replace=r'''            rc = RegDeleteKeyW(parent.Get(), below.substr(slash + 1).c_str());''',
          breaks="a key the import added with subkeys below it is not removed by the restore"),
    Fault("backup-16", "backup and restore", "migrate/key_restore.cpp",
          find=r'''    // The proof: the key as it is now, read again, is the one kept.
    rc = readRegistryTree(subKey, now, failedKey);
''',
          replace=r'''    // The proof: the key as it is now, read again, is the one kept.
''',
          breaks="the restore compares the key as it was before putting it back, and reports a key that is back as not back"),

    # ---- registry transfer ----------------------------------------------
    Fault("registry-1", "registry transfer", "migrate/registry_transfer.cpp",
          find=r'''        if (c >= L'A' && c <= L'Z')
            c = wchar_t(c - L'A' + L'a');
''',
          replace=r'''''',
          breaks="Console_Reporting spelled with capitals is not renamed, so the import writes the beta key back"),
    Fault("registry-2", "registry transfer", "migrate/registry_transfer.cpp",
          find=r'''constexpr size_t SETTINGS_WORD_LENGTH = 17;''',
          replace=r'''constexpr size_t SETTINGS_WORD_LENGTH = 16;''',
          breaks="the settings are imported under a key named consoleg instead of console"),
    Fault("registry-3", "registry transfer", "migrate/registry_transfer.cpp",
          find=r'''        } else if (inGaSection && (startsWithIgnoringCase(bare, L"\"Path\"=")
                                   || startsWithIgnoringCase(bare, L"\"WebSiteLocalPath\"="))) {''',
          replace=r'''        } else if (inGaSection && startsWithIgnoringCase(bare, L"\"Path\"=")) {''',
          breaks="after the migration the 5.2.2 key's WebSiteLocalPath points at the beta web site"),
    Fault("registry-4", "registry transfer", "migrate/registry_transfer.cpp",
          find=r'''            inGaSection = sameIgnoringCase(bare, GA_SETTINGS_SECTION);''',
          replace=r'''            inGaSection = inGaSection || sameIgnoringCase(bare, GA_SETTINGS_SECTION);''',
          breaks="Path values of the beta key's subkeys are not carried over"),
    Fault("registry-5", "registry transfer", "migrate/registry_transfer.cpp",
          find=r'''    if (!backup.KeepRegistryKey(reason))
        return false;''',
          replace=r'''    backup.KeepRegistryKey(reason);''',
          breaks="the settings are imported even when the 5.2.2 key could not be backed up"),
    Fault("registry-6", "registry transfer", "migrate/registry_transfer.cpp",
          find=r'''    if (!w32PutFile(file, renamed, failure, own)) {''',
          replace=r'''    if (!w32PutFile(file, text, failure, own)) {''',
          breaks="the export is imported as it was, writing the beta key back instead of the 5.2.2 key"),
    Fault("registry-7", "registry transfer", "migrate/registry_transfer.cpp",
          find=r'''    const TreeShortfall importShortfall = shortfallOf(importedTree, after);''',
          replace=r'''    const TreeShortfall importShortfall = shortfallOf(after, importedTree);''',
          breaks="the registry row fails after every import, naming the 5.2.2 key's own values as missing"),
    Fault("registry-8", "registry transfer", "migrate/registry_tree.cpp",
          find=r'''            case L'"':
                c = escaped;''',
          replace=r'''                c = escaped;''',
          breaks="a value whose name or data holds a quote makes the export look incomplete and the registry row fail"),
    Fault("registry-9", "registry transfer", "migrate/registry_tree.cpp",
          find=r'''        if (digits.empty() || digits.size() > 8)''',
          replace=r'''        if (digits.empty() || digits.size() >= 8)''',
          breaks="any exported DWORD value makes the registration file unreadable"),
    Fault("registry-10", "registry transfer", "migrate/registry_tree.cpp",
          find=r'''        colon = close + 1;''',
          replace=r'''        colon = close;''',
          breaks="expandable strings, multi-strings and QWORD values make the registration file unreadable"),
    Fault("registry-11", "registry transfer", "migrate/registry_tree.cpp",
          find=r'''            added.keys.push_back(key.path);
            newBranch = path + L"\\";''',
          replace=r'''            added.keys.push_back(key.path);''',
          breaks="restoring a run whose import added a key with subkeys reports errors for the subkeys"),
    Fault("registry-12", "registry transfer", "migrate/registry_tree.cpp",
          find=r'''            std::wstring name;
            index = 0;
''',
          replace=r'''            std::wstring name;
''',
          breaks="the first subkeys of each key are not read, so imports are reported incomplete and backups miss them"),
    Fault("registry-14", "registry transfer", "migrate/regedit_command.cpp",
          find=r'''    const int result = runRegedit(regeditExportArguments(file, key), outcome);''',
          replace=r'''    const int result = runRegedit(regeditExportArguments(key, file), outcome);''',
          breaks="no key is exported, so the registry row always fails"),
    Fault("registry-15", "registry transfer", "migrate/regedit_command.cpp",
          find=r'''        if (outcome.exitCode == 0)
            return {};
''',
          replace=r'''        return {};
''',
          breaks="a registry editor that exits with an error is taken as having worked"),
    Fault("registry-16", "registry transfer", "migrate/regedit_command.cpp",
          find=r'''    const TreeShortfall shortfall = shortfallOf(expected, exported);''',
          replace=r'''    const TreeShortfall shortfall = shortfallOf(exported, expected);''',
          breaks="an export that lacks values or subkeys of the key passes as whole"),

    # ---- unattended run -------------------------------------------------
    Fault("unattended-1", "unattended run", "app/unattended_run.cpp",
          find=r'''        out.Line(error);
        out.Write(USAGE_TEXT);
        return EXIT_BAD_COMMAND;''',
          replace=r'''        out.Line(error);
        return EXIT_BAD_COMMAND;''',
          breaks="a wrong command line prints no usage"),
    Fault("unattended-2", "unattended run", "app/unattended_run.cpp",
          find=r'''        out.Line(ANOTHER_COPY_TEXT);
        return EXIT_CANNOT_RUN;''',
          replace=r'''        out.Line(ANOTHER_COPY_TEXT);
        return EXIT_ROWS_FAILED;''',
          breaks="a second copy ends with exit code 1 instead of 4"),
    Fault("unattended-3", "unattended run", "app/unattended_run.cpp",
          find=r'''        out.Line(view.status);
        return EXIT_NOTHING_TO_DO;''',
          replace=r'''        return EXIT_NOTHING_TO_DO;''',
          breaks="when an installation is not found the console does not say which"),
    Fault("unattended-4", "unattended run", "app/unattended_run.cpp",
          find=r'''            failed += row.item.state.outcome == RowOutcome::Failed;''',
          replace=r'''            failed += row.item.state.outcome != RowOutcome::Migrated;''',
          breaks="with /only, the rows left out count as failed and the run ends with 1"),
    Fault("unattended-5", "unattended run", "app/unattended_run.cpp",
          find=r'''            code = EXIT_CANNOT_RUN;
''',
          replace=r'''''',
          breaks="a report that could not be written still ends with exit code 0"),
    Fault("unattended-6", "unattended run", "app/unattended_run.cpp",
          find=r'''    if (!view.closingText.empty())
        out.Line(view.closingText);
''',
          replace=r'''''',
          breaks="the summary lacks the closing text that names the backup folder"),
    Fault("unattended-7", "unattended run", "app/command_line.cpp",
          find=r'''        if (*seen) {
            error = L"A switch given twice: " + name;
            return false;
        }
''',
          replace=r'''''',
          breaks="a switch given twice is accepted instead of refused"),
    Fault("unattended-8", "unattended run", "app/command_line.cpp",
          find=r'''        const size_t colon = arg.find(L':');''',
          replace=r'''        const size_t colon = arg.rfind(L':');''',
          breaks="/report:C:\\Admin\\migration.csv is refused as an unknown switch"),
    Fault("unattended-9", "unattended run", "app/command_line.cpp",
          find=r'''            const std::wstring kind = trimmedWhiteSpace(value.substr(start, comma - start));''',
          replace=r'''            const std::wstring kind = value.substr(start, comma - start);''',
          breaks="/only with a blank after a comma is refused"),
    Fault("unattended-10", "unattended run", "app/command_line.cpp",
          find=r'''        if (sameIgnoringCase(known, text))''',
          replace=r'''        if (known == text)''',
          breaks="/only names that differ in case from the Description are refused"),
    Fault("unattended-11", "unattended run", "app/command_line.cpp",
          find=r'''        if (options.list || options.migrate || options.only || options.report) {''',
          replace=r'''        if (options.list || options.migrate || options.only) {''',
          breaks="/restore with /report is accepted and the report silently never written"),
    Fault("unattended-12", "unattended run", "app/csv_report.cpp",
          find=r'''std::wstring(L"=+-@\t\r")''',
          replace=r'''std::wstring(L"=+@\t\r")''',
          breaks="a report field beginning with - is not guarded and a spreadsheet runs it as a formula"),
    Fault("unattended-13", "unattended run", "app/csv_report.cpp",
          find=r'''    if (text.find_first_of(L",\"\r\n") == std::wstring::npos)''',
          replace=r'''    if (text.find_first_of(L",\r\n") == std::wstring::npos)''',
          breaks="a field holding a quote is written unquoted and breaks the CSV"),
    Fault("unattended-14", "unattended run", "app/csv_report.cpp",
          find=r'''    return "\xEF\xBB\xBF" + CConsoleOut::utf8(text);''',
          replace=r'''    return CConsoleOut::utf8(text);''',
          breaks="the report has no byte-order mark, so a spreadsheet misreads non-ASCII names"),
    Fault("unattended-15", "unattended run", "app/csv_report.cpp",
          find=r'''                                           item.sourceRoot, item.destinationRoot,''',
          replace=r'''                                           item.destinationRoot, item.sourceRoot,''',
          breaks="the report's Source Folder and Destination Folder columns are swapped"),
    Fault("unattended-16", "unattended run", "app/console_view.h",
          find=r'''            return key.Open(HKEY_LOCAL_MACHINE, GA_SETTINGS_SUBKEY) == ERROR_SUCCESS ? L"replaced" : L"new";''',
          replace=r'''            return key.Open(HKEY_LOCAL_MACHINE, GA_SETTINGS_SUBKEY) == ERROR_SUCCESS ? L"new" : L"replaced";''',
          breaks="the registry row says new when the 5.2.2 key is there"),
    Fault("unattended-17", "unattended run", "app/console_view.h",
          find=r'''                names.insert(foldedCase(entry.cFileName));''',
          replace=r'''                names.insert(entry.cFileName);''',
          breaks="every file row says new, even when it replaces a 5.2.2 file"),
    Fault("unattended-18", "unattended run", "app/console_view.h",
          find=r'''    bool ListsOnly() override { return m_listOnly; }''',
          replace=r'''    bool ListsOnly() override { return false; }''',
          breaks="/list creates the 5.2.2 zelt directory instead of changing nothing"),
    Fault("unattended-20", "unattended run", "app/single_run.cpp",
          find=r'''    if (existing && ownerOf(existing, owner) && isAdministratorsOrSystem(owner.data())) {''',
          replace=r'''    if (existing && ownerOf(existing, owner)) {''',
          breaks="a lock name that another account made stops the tool as if another copy ran"),
]
