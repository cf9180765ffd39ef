#!/usr/bin/env python3
"""Times a batch of small conversions, the way the program is mostly run.

Usage: bench/batch_run.py WAVCONV [OTHER_WAVCONV]

Makes 2,000 segments of 3,600 samples (3 minutes at 20 samples per second), each with its own
header, and converts them all with `xargs -P 2 -n 1` into a directory without outputs, five
times; with a second binary (an earlier release, say) both are timed in turn and the ratio of
the medians is reported. Then the same 2,000 headers in one run, `wavconv /M -- *.wfdisc`, with
the default number of threads and with /P1, in the same rounds: their medians and ratios to the
xargs recipe, the peak RSS of the /M run against that of one single run, and whether every
output equals that of the separate runs (cmp).
"""
import array
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SEGMENTS, SAMPLES, ROUNDS = 2000, 3600, 5


def header(dfile):
    return ("%-6s %-8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6s %-1s %-2s %-1s "
            "%-64s %-32s %10d %8d %-17s\n") % ("ABC", "BHZ", 981947229.0, 1, 1, 2001043,
                                              981947229.0, SAMPLES, 20.0, 1.0, 1.0, "STS-2", "-",
                                              "i4", "-", "-", dfile, 0, -1, "2001/02/12")


def make_batch(directory):
    rng = random.Random(1)
    for k in range(SEGMENTS):
        values = array.array("i", (rng.randint(-50000, 50000) for _ in range(SAMPLES)))
        if sys.byteorder != "little":
            values.byteswap()
        with open(os.path.join(directory, "s%04d.w" % k), "wb") as f:
            values.tofile(f)
        with open(os.path.join(directory, "s%04d.wfdisc" % k), "w") as f:
            f.write(header("s%04d.w" % k))


def timed_batch(binary, directory):
    # Each batch starts from a directory without outputs, as a new batch does.
    for name in os.listdir(directory):
        if name.endswith(".gse"):
            os.remove(os.path.join(directory, name))
    names = "".join("s%04d.wfdisc\n" % k for k in range(SEGMENTS))
    start = time.perf_counter()
    subprocess.run(["xargs", "-P", "2", "-n", "1", binary], input=names, text=True, cwd=directory,
                   stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def timed_many(binary, directory, threads=None):
    for name in os.listdir(directory):
        if name.endswith(".gse"):
            os.remove(os.path.join(directory, name))
    names = ["s%04d.wfdisc" % k for k in range(SEGMENTS)]
    command = [binary, "/M"] + (["/P%d" % threads] if threads else []) + ["--"] + names
    start = time.perf_counter()
    subprocess.run(command, cwd=directory, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def peak_rss_kib(command, cwd):
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, cwd=cwd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.strip().splitlines()[-1])


def outputs(directory):
    found = {}
    for name in os.listdir(directory):
        if name.endswith(".gse"):
            with open(os.path.join(directory, name), "rb") as f:
                found[name] = f.read()
    return found


def main():
    binaries = [os.path.abspath(b) for b in sys.argv[1:3]]
    if not binaries:
        sys.exit(__doc__)
    work = tempfile.mkdtemp(prefix="wavconv-batch-")
    try:
        make_batch(work)
        times = {b: [] for b in binaries}
        many, many_one = [], []
        separate = None
        for _ in range(ROUNDS):
            for b in binaries:
                times[b].append(timed_batch(b, work))
                if b == binaries[0] and separate is None:
                    separate = outputs(work)
            many.append(timed_many(binaries[0], work))
            many_one.append(timed_many(binaries[0], work, 1))
        medians = [statistics.median(times[b]) for b in binaries]
        for b, m in zip(binaries, medians):
            print("%s: %d segments of %d samples in %.2f s (xargs -P 2 -n 1)" % (
                b, SEGMENTS, SAMPLES, m))
        if len(medians) == 2:
            print("ratio %.2f" % (medians[0] / medians[1]))
        m, m1 = statistics.median(many), statistics.median(many_one)
        print("/M, %d threads: %.2f s, ratio to xargs %.2f" % (os.cpu_count(), m, m / medians[0]))
        print("/M /P1: %.2f s, ratio to xargs %.2f" % (m1, m1 / medians[0]))
        timed_many(binaries[0], work)
        print("outputs of /M equal to separate runs: %s" % (outputs(work) == separate))
        names = ["s%04d.wfdisc" % k for k in range(SEGMENTS)]
        rss_many = peak_rss_kib([binaries[0], "/M", "--"] + names, work)
        rss_one = peak_rss_kib([binaries[0], "s0000.wfdisc", "one.gse"], work)
        print("peak RSS: /M %.1f MiB, one run %.1f MiB, ratio %.2f" % (
            rss_many / 1024, rss_one / 1024, rss_many / rss_one))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
