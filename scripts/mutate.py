#!/usr/bin/env python3
"""Seeded-fault runner: measures the tests by the faults they catch.

Each fault in scripts/faults/ is one realistic mistake in one module, written
from what the tool promises. For each, the runner puts the fault into a
scratch copy of the tree, builds it, runs the tests that cover its module,
and, when they all pass, the whole suite; then it takes the fault out again.
It prints a table (fault, module, caught or not, by which test, minutes) and
writes it to build-mutate/<arch>/results.md.

    scripts/mutate.py [--arch win32|win64] [--only ID,...] [--module NAME,...] [--per-module N]
                      [--scratch NAME] [--check] [--list] [--merge NAME,...]

--per-module N takes the first N faults of each module (a shorter run).
--module takes one module or several, separated by commas, run in that order.
--scratch NAME works in build-mutate/NAME instead of build-mutate/<arch>, so
that two runs over different modules can go side by side: the window tests
spend most of their time waiting, and one run leaves a core idle.
--merge NAME,... prints one table from the results.md of such runs.
--check only proves that every fault applies to the tree as it is (its text
found exactly once) and exits; --list prints the faults. The run takes an
hour or two and is not part of CI; scripts/test.sh is unchanged by it.
A fault whose tree does not build is reported as such and counts for
nothing: mend the fault, not the tests.
"""
import argparse
import datetime
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts"))

from faults import FAULTS, MODULE_TESTS  # noqa: E402


def scratch_dir(options, arch):
    """Where a run keeps its copy of the tree, its build, prefix, logs and table."""
    return os.path.join(ROOT, "build-mutate", options.scratch or arch)


def tracked_files():
    out = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True).stdout
    return [name for name in out.decode().split("\0") if name]


def check(faults):
    problems = []
    for fault in faults:
        path = os.path.join(ROOT, fault.file)
        if not os.path.exists(path):
            problems.append(f"{fault.id}: no file {fault.file}")
            continue
        count = open(path, encoding="utf-8").read().count(fault.find)
        if count != 1:
            problems.append(f"{fault.id}: its text is found {count} times in {fault.file}")
        if fault.module not in MODULE_TESTS:
            problems.append(f"{fault.id}: unknown module {fault.module}")
    return problems


def sync_tree(scratch):
    """The working tree's tracked files into scratch/src, copying only what differs."""
    src = os.path.join(scratch, "src")
    for name in tracked_files():
        source, target = os.path.join(ROOT, name), os.path.join(src, name)
        if not os.path.isfile(source):
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(source, "rb") as f:
            data = f.read()
        if os.path.exists(target):
            with open(target, "rb") as f:
                if f.read() == data:
                    continue
        with open(target, "wb") as f:
            f.write(data)
        shutil.copymode(source, target)
    return src


def build(src, build_dir, arch):
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        toolchain = "mingw-w64-x86_64.cmake" if arch == "win64" else "mingw-w64-i686.cmake"
        subprocess.run(["cmake", "-S", src, "-B", build_dir, "-G", "Ninja",
                        f"-DCMAKE_TOOLCHAIN_FILE={src}/cmake/{toolchain}", "-DCMAKE_BUILD_TYPE=Release"],
                       check=True, stdout=subprocess.DEVNULL)
    result = subprocess.run(["cmake", "--build", build_dir, "--parallel", str(os.cpu_count() or 2)],
                            capture_output=True, text=True)
    return result.returncode == 0, result.stdout[-4000:] + result.stderr[-4000:]


def empty_temp():
    """What an earlier run left in the prefix's temp folders (a fault's test may
    leave its scratch folders), so that it is not taken for this run's."""
    drive = os.path.join(os.environ.get("WINEPREFIX", ""), "drive_c")
    for folder in [os.path.join(drive, "windows", "temp")] + [
            os.path.join(drive, "users", user, "Temp") for user in os.listdir(os.path.join(drive, "users"))]:
        if os.path.isdir(folder) and not os.path.islink(folder):
            for name in os.listdir(folder):
                path = os.path.join(folder, name)
                if os.path.isdir(path) and not os.path.islink(path):
                    shutil.rmtree(path, ignore_errors=True)
                else:
                    os.remove(path)


LOG_NAME = ["baseline"]  # the fault whose test runs are being logged


def run_tests(build_dir, regex, timeout, first_only=False, skip=()):
    """ctest over the tests `regex` selects (all when None): the names of those that failed.
    With first_only, no further test starts once one has failed: one catch is
    enough, and a fault that makes every window test wait out its timeout
    would otherwise cost half an hour. Each run's output is added to
    logs/<fault>.log beside the build."""
    empty_temp()
    args = ["ctest", "--test-dir", build_dir, "-j", str(os.cpu_count() or 2), "-LE", "wow64", "--timeout", str(timeout)]
    if first_only:
        args.append("--stop-on-failure")
    if regex:
        args += ["-R", regex]
    if skip:
        args += ["-E", "^(" + "|".join(re.escape(name) for name in skip) + ")$"]
    result = subprocess.run(args, capture_output=True, text=True)
    logs = os.path.join(build_dir, "..", "logs")
    os.makedirs(logs, exist_ok=True)
    with open(os.path.join(logs, LOG_NAME[0] + ".log"), "a", encoding="utf-8") as log:
        log.write("$ " + " ".join(args) + "\n" + result.stdout + result.stderr)
        for name in re.findall(r"^\s*\d+ - (\S+) \(", result.stdout, re.M):
            details = os.path.join(build_dir, "Testing", "Temporary", "LastTest.log")
            if os.path.exists(details):
                log.write(open(details, encoding="utf-8", errors="replace").read())
                break
    failed = re.findall(r"^\s*\d+ - (\S+) \(", result.stdout, re.M)
    if result.returncode != 0 and not failed:
        failed = ["(ctest: " + result.stdout.strip().splitlines()[-1] + ")"] if result.stdout.strip() else ["(ctest)"]
    return failed


def confirmed(build_dir, failed):
    """Of the tests that failed, those that fail again when run once more on
    their own: a test that failed only once is not taken as a catch."""
    if not failed or any(name.startswith("(") for name in failed):
        return failed
    again = set(run_tests(build_dir, "^(" + "|".join(re.escape(name) for name in failed) + ")$", 900))
    return [name for name in failed if name in again or name == "TempLeftEmpty"]


def report_text(arch, rows, planned, day=None):
    counted = [r for r in rows if r[1] != "does not build"]
    caught = [r for r in counted if r[1].startswith("caught")]
    lines = [f"Seeded faults, {arch} build, {day or datetime.date.today().isoformat()}: "
             f"{len(caught)} of {len(counted)} caught"
             + (f" (stopped after {len(rows)} of {planned})" if len(rows) < planned else "")
             + (f" ({100.0 * len(caught) / len(counted):.0f} %)" if counted else ""), "",
             "| Module | Faults | Caught |", "|---|---|---|"]
    for module in MODULE_TESTS:
        mine = [r for r in counted if r[0].module == module]
        if mine:
            lines.append(f"| {module} | {len(mine)} | {sum(r[1].startswith('caught') for r in mine)} |")
    lines += ["", "| Fault | Module | What it breaks | Result | By | Minutes |", "|---|---|---|---|---|---|"]
    for fault, result, by, minutes in rows:
        lines.append(f"| {fault.id} | {fault.module} | {fault.breaks} | {result} | {by} | {minutes:.1f} |")
    return "\n".join(lines) + "\n"


def write_report(scratch, arch, rows, planned):
    """The table of the faults run so far into results.md; written after each
    fault, so that a run stopped part way still leaves what it measured."""
    report = report_text(arch, rows, planned)
    with open(os.path.join(scratch, "results.md"), "w", encoding="utf-8") as f:
        f.write(report)
    return report


def merge(names):
    """One table from the results.md of runs that went side by side, each in
    its own --scratch folder: the rows of every fault they ran, in module order."""
    by_id = {fault.id: fault for fault in FAULTS}
    rows, arches, days = {}, set(), set()
    for name in names:
        text = open(os.path.join(ROOT, "build-mutate", name, "results.md"), encoding="utf-8").read()
        title = re.match(r"Seeded faults, (\S+) build, (\S+):", text)
        arches.add(title.group(1))
        days.add(title.group(2))
        for line in text.splitlines():
            cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
            if len(cells) == 6 and cells[0] in by_id:
                rows[cells[0]] = (by_id[cells[0]], cells[3], cells[4], float(cells[5]))
    order = list(MODULE_TESTS)
    merged = sorted(rows.values(), key=lambda r: (order.index(r[0].module), FAULTS.index(r[0])))
    return report_text("/".join(sorted(arches)), merged, len(merged), "/".join(sorted(days)))


def caught_by(build_dir, regex):
    """The tests that catch the fault in place. A pass stops at its first
    failure; when that failure does not come again on its own (a test that
    fails now and then under load), the pass is run again without it, so that
    the tests it kept from starting still get their turn."""
    flaky = []
    while len(flaky) < 6:
        failed = run_tests(build_dir, regex, 900, True, flaky)
        if not failed:
            return []
        kept = confirmed(build_dir, failed)
        if kept:
            return kept
        flaky += failed
    return []


def inside(options):
    modules = options.module.split(",") if options.module else []
    faults = [f for f in FAULTS if (not options.only or f.id in options.only.split(","))
              and (not modules or f.module in modules)]
    unknown = [m for m in modules if m not in MODULE_TESTS]
    if unknown:
        print("no such module: " + ", ".join(unknown) + "; the modules are: " + ", ".join(MODULE_TESTS))
        return 2
    if modules:  # in the order the modules were given
        faults.sort(key=lambda f: modules.index(f.module))
    if options.per_module:
        taken = {}
        faults = [f for f in faults if taken.setdefault(f.module, []).append(f) or len(taken[f.module]) <= options.per_module]
    scratch = scratch_dir(options, options.arch)
    src = sync_tree(scratch)
    build_dir = os.path.join(scratch, "build")
    ok, log = build(src, build_dir, options.arch)
    if not ok:
        print("the tree as it is does not build:\n" + log)
        return 2
    failed = confirmed(build_dir, run_tests(build_dir, None, 600))
    if failed:
        print("the suite fails without any fault, so there is nothing to measure: " + ", ".join(failed))
        return 2

    rows = []
    print(f"{'fault':<14} {'module':<20} {'result':<14} {'by':<60} min")
    for fault in faults:
        started = time.time()
        LOG_NAME[0] = fault.id
        if os.path.exists(os.path.join(scratch, "logs", fault.id + ".log")):
            os.remove(os.path.join(scratch, "logs", fault.id + ".log"))
        path = os.path.join(src, fault.file)
        original = open(path, encoding="utf-8").read()
        with open(path, "w", encoding="utf-8") as f:
            f.write(original.replace(fault.find, fault.replace, 1))
        try:
            built, _ = build(src, build_dir, options.arch)
            if not built:
                result, by = "does not build", ""
            else:
                failed = caught_by(build_dir, MODULE_TESTS[fault.module])
                if not failed:
                    failed = caught_by(build_dir, None)
                    result = "caught (suite)" if failed else "SURVIVED"
                else:
                    result = "caught"
                by = ", ".join(failed[:3]) + (" ..." if len(failed) > 3 else "")
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        minutes = (time.time() - started) / 60
        rows.append((fault, result, by, minutes))
        print(f"{fault.id:<14} {fault.module:<20} {result:<14} {by[:60]:<60} {minutes:.1f}", flush=True)
        write_report(scratch, options.arch, rows, len(faults))
    build(src, build_dir, options.arch)

    print("\n" + write_report(scratch, options.arch, rows, len(faults)))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=["win32", "win64"], default=None)
    parser.add_argument("--only", default="")
    parser.add_argument("--module", default="")
    parser.add_argument("--per-module", type=int, default=0)
    parser.add_argument("--scratch", default="", help="folder under build-mutate (default: the arch)")
    parser.add_argument("--merge", default="", help="scratch folders whose tables to put into one")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args()

    problems = check(FAULTS)
    if options.check or problems:
        for problem in problems:
            print(problem)
        print(f"{len(FAULTS)} faults, {len(problems)} that do not apply")
        return 1 if problems else 0
    if options.merge:
        print(merge(options.merge.split(",")), end="")
        return 0
    if options.list:
        for fault in FAULTS:
            print(f"{fault.id:<14} {fault.module:<20} {fault.breaks}")
        return 0
    if options.inside:
        return inside(options)

    # Under Wine with a display of its own, in a prefix kept between runs.
    arch = options.arch or ("win32" if subprocess.run(["/usr/lib/wine/wine", "--version"],
                                                       capture_output=True).returncode == 0 else "win64")
    prefix = os.path.join(scratch_dir(options, arch), "wineprefix")
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    command = [os.path.join(ROOT, "scripts", "with-wine.sh"), "--arch", arch]
    if arch == "win64":
        command.append("--loader64")
    command += ["--keep-prefix", prefix, "--", sys.executable, os.path.abspath(__file__), "--inside", "--arch", arch]
    if options.only:
        command += ["--only", options.only]
    if options.module:
        command += ["--module", options.module]
    if options.per_module:
        command += ["--per-module", str(options.per_module)]
    if options.scratch:
        command += ["--scratch", options.scratch]
    return subprocess.run(command).returncode


if __name__ == "__main__":
    sys.exit(main())
