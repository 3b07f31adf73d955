#include "discovery/install_locator.h"

#include "common/text.h"

#include "discovery/item_types.h"
#include "discovery/migration_view.h"

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

LocateOutcome locateInstallations(CMigrationView& view, InstallLookup& lookup, bool& errorShown)
{
    errorShown = false;
    LONG rc = readInstallValue(lookup, BETA_INSTALL_KEY, INSTALL_PATH_VALUE, view.m_betaPath);
    if (rc != 0) {
        view.m_status.setText(L"ERROR - Unable to locate operational reporting beta key in the registry.");
        lookup.result = DWORD(rc);
        errorShown = true;
        return LocateOutcome::Failed;
    }
    if (view.m_betaPath.empty()) {
        view.m_status.setText(L"ERROR - Unable to locate operational reporting beta path in the registry.");
        errorShown = true;
        return LocateOutcome::Failed;
    }

    view.AddListItem(ITEM_REGISTRY_SETTINGS, L"Registry settings", L"console_reporting", BETA_SETTINGS_ROW_ROOT,
                     L"console", GA_SETTINGS_ROW_ROOT, CONVERSION_NONE);
    view.m_sourcePath.setText(view.m_betaPath);

    rc = readInstallValue(lookup, GA_INSTALL_KEY, INSTALL_PATH_VALUE, view.m_gaPath);
    if (rc != 0) {
        view.m_status.setText(L"ERROR - Unable to locate operational reporting 5.2.2 key in the registry.");
        lookup.result = DWORD(rc);
        errorShown = true;
        return LocateOutcome::Failed;
    }
    if (view.m_gaPath.empty()) {
        view.m_status.setText(L"ERROR - Unable to locate operational reporting 5.2.2 path in the registry.");
        errorShown = true;
        return LocateOutcome::NoGaPath;
    }
    view.m_destPath.setText(view.m_gaPath);
    return LocateOutcome::Found;
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
