// Finding the beta and the 5.2.2 installations in the registry of this computer.
#pragma once

#include "common/cmd/console_names.h"
#include "common/cmd/registry_key.h"

#include <string>


// The look-up state of one refresh: the computer's name, read once, and the
// one key object every look-up opens and closes again.
struct InstallLookup {
    InstallLookup();
    std::wstring computerName;
    CRegistryKey key;
    DWORD result = 0; // the error of the last failed key open, else 0
};

// Opens HKEY_LOCAL_MACHINE\subKey on this computer, reads `valueName` into
// `text` (emptied first, so a missing value leaves it empty), closes the key
// and trims white space from both ends. Returns 0, or the open's error, in
// which case `text` is left as it was.
LONG readInstallValue(InstallLookup& lookup, const std::wstring& subKey, const std::wstring& valueName,
                      std::wstring& text);

enum class LocateOutcome {
    Found,       // both installations known: scan
    NoGaPath,    // beta found, 5.2.2 "Path" blank: close the refresh without scanning
    Failed,      // end the refresh at once
};

// What the locating phase at the top of a refresh found.
struct LocatedInstallations {
    LocateOutcome outcome = LocateOutcome::Failed;
    std::wstring betaPath; // empty when the beta installation was not found
    std::wstring gaPath;   // empty unless outcome is Found
    std::wstring error;    // the status line's text for a missing installation, else empty
};

// Reads the two installation directories, beta first; the first one missing
// ends the look-up.
LocatedInstallations locateInstallations(InstallLookup& lookup);

// The two web site directories; false when either look-up failed or is blank.
bool locateWebSites(InstallLookup& lookup, std::wstring& betaWebSite, std::wstring& gaWebSite);

