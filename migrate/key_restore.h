// Puts a registry key back as a registration file held it, by difference,
// through the registry API: what was added since goes, what changed is set
// back, and the keys that stayed are never deleted and made again, so their
// access lists stay as they are. Any name the registry holds is carried.
#pragma once

#include "migrate/registry_tree.h"

#include <string>
#include <vector>

// Makes HKEY_LOCAL_MACHINE\subKey and everything below it hold exactly
// `wanted` (whose first key is that key), then reads it again and compares.
// True when it is proved the same; otherwise `problems` says what is not,
// one sentence each.
bool restoreKeyByDifference(const std::wstring& subKey, const RegistryTree& wanted, std::vector<std::wstring>& problems);
