// The tool without a window, for scripts, scheduled tasks and remote shells:
//   quarnrept_migrate.exe /list    [/report:FILE]
//   quarnrept_migrate.exe /migrate [/only:DESCRIPTION[,DESCRIPTION...]] [/report:FILE]
//   quarnrept_migrate.exe /restore:FOLDER     (what a backup's restore.cmd runs)
// The same workers as the window's, run against a face of their own that
// prints to the console the tool was started from.
#pragma once

#include <string>
#include <vector>

// The process's exit codes.
constexpr int EXIT_ALL_DONE = 0;        // every row migrated (or listed); everything restored
constexpr int EXIT_ROWS_FAILED = 1;     // one or more rows failed; something is not back
constexpr int EXIT_NOTHING_TO_DO = 2;   // an installation was not found
constexpr int EXIT_BAD_COMMAND = 3;     // the command line is wrong; the usage is printed
constexpr int EXIT_CANNOT_RUN = 4;      // another copy runs, or the report cannot be written

// Runs the command line's arguments (without the program's name) and returns
// the exit code.
int runUnattended(const std::vector<std::wstring>& args);
