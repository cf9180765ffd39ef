#!/usr/bin/env python3
"""Runs the whole-run golden cases (tests/golden/<case>/) with a given program, byte for byte.

Usage: tools/run_golden.py [--wine] [--update] [--case NAME] PROGRAM

The same check as the test suite's golden runner, for a program the suite does not start
itself: the Windows build under Wine, or an unpacked package. Each case's inputs are copied
into a fresh directory; standard output, standard error, the exit status and every file the run
writes or changes must equal the case's expected bytes. Prints one line a case and
"N passed, N failed". Standard error is compared without the amount and time of a summary line,
and under Wine with CR LF read as LF. With --wine the cases of tests/golden_windows/ run too: backslash paths
and drive letters, "<wd>" in an argument standing for the case's directory as Windows names it.
--update rewrites the expected bytes of the cases run from what the run gives (review the
diff); --case runs one case. The test suite runs each case of tests/golden/ this way.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GOLDEN = os.path.join(ROOT, "tests", "golden")
GOLDEN_WINDOWS = os.path.join(ROOT, "tests", "golden_windows")


def snapshot(root):
    files = {}
    for directory, _, names in os.walk(root):
        for name in names:
            path = os.path.join(directory, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
    return files


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def comparable_stderr(text, wine):
    """Standard error as compared: the amount and time of a run's summary line left out, and
    under Wine the CR LF that Windows ends the program's own lines with read as LF."""
    text = re.sub(rb"; [0-9.]+ MB in [0-9.]+ s", b"; # MB in # s", text)
    return text.replace(b"\r\n", b"\n") if wine else text


def run_case(command, golden, update=False):
    work = tempfile.mkdtemp(prefix="wavconv-golden-")
    windows_work = "Z:" + work.replace("/", "\\")
    with open(os.path.join(golden, "args")) as f:
        args = ["" if line == "<empty>" else line.replace("<wd>", windows_work)
                for line in f.read().splitlines()]
    try:
        if os.path.isdir(os.path.join(golden, "in")):
            shutil.copytree(os.path.join(golden, "in"), work, dirs_exist_ok=True)
        before = snapshot(work)
        result = subprocess.run(command + args, cwd=work, capture_output=True,
                                env=dict(os.environ, WINEDEBUG="-all"))
        after = snapshot(work)
        written = {n: b for n, b in after.items() if before.get(n) != b}
        if update:
            write(os.path.join(golden, "stdout"), result.stdout)
            write(os.path.join(golden, "stderr"), result.stderr)
            write(os.path.join(golden, "status"), b"%d\n" % result.returncode)
            shutil.rmtree(os.path.join(golden, "expect"), ignore_errors=True)
            for name, data in written.items():
                write(os.path.join(golden, "expect", name), data)
        expected = snapshot(os.path.join(golden, "expect"))
        problems = []
        if result.stdout != read(os.path.join(golden, "stdout")):
            problems.append("stdout %r" % result.stdout[:200])
        wine = command[0] == "wine"
        if (comparable_stderr(result.stderr, wine) !=
                comparable_stderr(read(os.path.join(golden, "stderr")), wine)):
            problems.append("stderr %r" % result.stderr[:200])
        if "%d\n" % result.returncode != read(os.path.join(golden, "status")).decode():
            problems.append("status %d" % result.returncode)
        if written != expected or any(n not in after for n in before):
            problems.append("files %s" % sorted(set(written) ^ set(expected)) or "differ")
        return problems
    finally:
        shutil.rmtree(work)


def main():
    args = sys.argv[1:]
    wine, update = "--wine" in args, "--update" in args
    args = [a for a in args if a not in ("--wine", "--update")]
    only = None
    if "--case" in args:
        i = args.index("--case")
        only = args[i + 1]
        del args[i:i + 2]
    if len(args) != 1:
        sys.exit(__doc__)
    command = (["wine"] if wine else []) + [os.path.abspath(args[0])]
    if wine:
        # The first start of Wine makes its configuration directory and says so.
        subprocess.run(command + ["--version"], capture_output=True,
                       env=dict(os.environ, WINEDEBUG="-all"))
    passed = failed = 0
    cases = [os.path.join(GOLDEN, c) for c in sorted(os.listdir(GOLDEN))]
    if wine:
        cases += [os.path.join(GOLDEN_WINDOWS, c) for c in sorted(os.listdir(GOLDEN_WINDOWS))]
    for golden in cases:
        if not os.path.exists(os.path.join(golden, "args")):
            continue
        case = os.path.basename(golden)
        if only and case != only:
            continue
        problems = run_case(command, golden, update)
        print("%s %s%s" % ("ok  " if not problems else "FAIL", case,
                           "" if not problems else ": " + "; ".join(problems)))
        passed, failed = passed + (not problems), failed + bool(problems)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
