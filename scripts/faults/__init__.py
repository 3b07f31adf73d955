"""The seeded faults, one file per group of modules, and the tests that cover
each module. A fault is one realistic single mistake that a developer could
make and a user would notice, written from what the tool promises."""
import importlib
import os
from collections import namedtuple

# id: short and unique; module: a key of MODULE_TESTS; file: path in the tree;
# find: text found exactly once in that file; replace: the same text with the
# mistake; breaks: what a user would notice, in a few words.
Fault = namedtuple("Fault", "id module file find replace breaks")

# The tests that cover each module, as a ctest -R expression. A fault that
# survives them is tried against the whole suite.
MODULE_TESTS = {
    "file layer": r"FileIo|OemToUtf16|Fingerprint|BlockSource|Migration\.(ARace|AFileOf|NothingThat|RestoreCmd)",
    "finder": r"FileFinderTest|Refresh\.",
    "locator": r"Refresh\.|ConsolePath",
    "list control": r"CheckList|MainDialog",
    "row store": r"RowStore|MainDialog|Refresh\.|Migration\.(AfterARun|OnlyTicked|AnUnattended)",
    "dialog": r"MainDialog|Migration\.(OnlyTicked|EachFailure|AfterARun|Carries)",
    "refresh": r"Refresh\.|Migration\.AnUnattended",
    "migration": r"Migration\.(Carries|OnlyTicked|EachFailure|AFileOf|WhereNo|NothingThat|ARace)|MigrationBackup",
    "backup and restore": r"MigrationBackup|Migration\.(Restore|ARunStopped|WhereNo|WhatAnother)",
    "registry transfer": r"RegistryRename|RegistryKey|Migration\.(Carries|ARegistry)",
    "unattended run": r"Migration\.(AnUnattended|WhatAnother)",
    "trace": r"TraceTest|Migration\.WhatAnother",
    "path utilities": r"PathSplit|ShortPath|ConsolePath",
    "language loader": r"Nls",
}

FAULTS = []
_here = os.path.dirname(os.path.abspath(__file__))
for _name in sorted(os.listdir(_here)):
    if _name.endswith(".py") and not _name.startswith("_"):
        FAULTS += importlib.import_module("faults." + _name[:-3]).FAULTS
