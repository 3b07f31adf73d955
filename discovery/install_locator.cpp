#include "discovery/install_locator.h"

#include "common/text.h"


#include <cwctype>


InstallLookup::InstallLookup()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(name, &size))
        computerName.assign(name, size);
}


LONG readInstallValue(InstallLookup& lookup, const std::wstring& subKey, const std::wstring& valueName,
                      std::wstring& text)
{
    LONG rc = lookup.key.OpenOnMachine(lookup.computerName, HKEY_LOCAL_MACHINE, subKey);
    if (rc != ERROR_SUCCESS)
        return rc;
    lookup.key.QueryString(valueName, text);
    lookup.key.Close();
    text = trimmedWhiteSpace(text);
    return 0;
}

namespace {

// Reads one installation's Path into `path`; false with the status line's
// text in `error` when its key or its Path is missing.
bool readInstallPath(InstallLookup& lookup, const std::wstring& subKey, const wchar_t* which, std::wstring& path,
                     std::wstring& error)
{
    const LONG rc = readInstallValue(lookup, subKey, INSTALL_PATH_VALUE, path);
    if (rc != 0)
        lookup.result = DWORD(rc);
    if (rc != 0 || path.empty()) {
        error = L"ERROR - Unable to locate operational reporting " + std::wstring(which)
            + (rc != 0 ? L" key" : L" path") + L" in the registry.";
        return false;
    }
    return true;
}

} // namespace

LocatedInstallations locateInstallations(InstallLookup& lookup)
{
    LocatedInstallations found;
    std::wstring path;
    if (!readInstallPath(lookup, BETA_INSTALL_KEY, L"beta", path, found.error))
        return found;
    found.betaPath = path;
    path.clear();
    if (!readInstallPath(lookup, GA_INSTALL_KEY, L"5.2.2", path, found.error)) {
        // A blank 5.2.2 Path (its key was read) still lets the registry row
        // be migrated.
        if (lookup.result == 0)
            found.outcome = LocateOutcome::NoGaPath;
        return found;
    }
    found.gaPath = path;
    found.outcome = LocateOutcome::Found;
    return found;
}

bool locateWebSites(InstallLookup& lookup, std::wstring& betaWebSite, std::wstring& gaWebSite)
{
    LONG rc = readInstallValue(lookup, BETA_INSTALL_KEY, WEB_SITE_PATH_VALUE, betaWebSite);
    if (rc != 0) {
        lookup.result = DWORD(rc);
        return false;
    }
    if (betaWebSite.empty())
        return false;
    rc = readInstallValue(lookup, GA_INSTALL_KEY, WEB_SITE_PATH_VALUE, gaWebSite);
    if (rc != 0) {
        lookup.result = DWORD(rc);
        return false;
    }
    return !gaWebSite.empty();
}
