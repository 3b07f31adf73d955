// Lists the files of one directory that match a few simple patterns.
//
// The patterns are not the system's wildcards:
//   "*" or "*.*"   every file, with or without an extension;
//   "name.ext"     exactly that file name, ignoring case;
//   "x*.ext"       every file whose extension is ".ext": same length, equal
//                  ignoring case, and the name holds ".ext" in exactly the
//                  pattern's letter case (what stands before the extension
//                  in the pattern is ignored).
// Directories, "." and ".." are never results.
#pragma once

#include <string>
#include <vector>

// How findFiles goes about a directory.
enum class Recurse { No, Yes }; // Yes: subdirectories too, depth first
enum class MatchCase {
    AsFound, // names are matched as they are
    LowerCased, // each name is lower-cased before it is matched
};

// Appends directory + "\" + name for every matching file to results[count...],
// once per matching pattern, never at or past `capacity`, and stops looking
// once `capacity` is reached. Results carry the names as the directory holds
// them, whatever `matchCase`: a lower-cased name may be another file, or none.
// A directory that cannot be searched adds nothing. Returns 0.
int findFiles(const std::wstring& directory, const std::wstring* patterns, int patternCount,
              std::wstring* results, int capacity, int& count, Recurse recurse, MatchCase matchCase);

// Every file of `directory` (not its subdirectories) whose lower-cased name
// matches `pattern`, as found, into results[0...]; returns how many. The
// array grows while the directory is read, so no match is ever left out and
// the directory is read once. Each time it has to grow is traced.
int findAllFiles(const std::wstring& directory, const std::wstring& pattern, std::vector<std::wstring>& results);

// The extension of `name`: from its last "." to the end, dot included, or
// empty when there is no dot. Returns the number of characters after the dot.
int getExtension(const std::wstring& name, std::wstring& extension);

// Lower-cases `text` in place (Unicode rules, not only A to Z).
void lowerCaseInPlace(std::wstring& text);

