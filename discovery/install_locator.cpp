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

LocatedInstallations locateInstallations(InstallLookup& lookup)
{
    LocatedInstallations found;
    std::wstring path;
    LONG rc = readInstallValue(lookup, BETA_INSTALL_KEY, INSTALL_PATH_VALUE, path);
    if (rc != 0) {
        found.error = L"ERROR - Unable to locate operational reporting beta key in the registry.";
        lookup.result = DWORD(rc);
        return found;
    }
    if (path.empty()) {
        found.error = L"ERROR - Unable to locate operational reporting beta path in the registry.";
        return found;
    }
    found.betaPath = path;

    path.clear();
    rc = readInstallValue(lookup, GA_INSTALL_KEY, INSTALL_PATH_VALUE, path);
    if (rc != 0) {
        found.error = L"ERROR - Unable to locate operational reporting 5.2.2 key in the registry.";
        lookup.result = DWORD(rc);
        return found;
    }
    if (path.empty()) {
        found.error = L"ERROR - Unable to locate operational reporting 5.2.2 path in the registry.";
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
