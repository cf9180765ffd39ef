#!/usr/bin/env python3
"""Times whole conversions of full segments against the I/O floor.

Usage: bench/whole_run.py [BUILD_DIR] [--against OTHER_WAVCONV]
       (BUILD_DIR default build-bench; configured with -DWAVCONV_BENCH=ON)

For 864,000 and 8,640,000 samples (a random walk within +-2,000,000) it reports the median
wall time of wavconv and of io_floor (read the samples, write an output-sized file, 256 KiB
blocks), their ratio, wavconv's peak RSS and, when valgrind is present, callgrind's user-space
instructions per sample. With --against, another wavconv binary (an earlier release, say) is
timed in the same loop, run for run, and the ratio of the two medians is reported. Record mode
(/R) on the same samples stored big-endian (s4), and GSE2.0 CM6 output (/Tcm6), are timed
against the default run too. The
conversions replace an existing output (whose data is flushed to the disk before the old file
goes); each is also timed into a new file (removed before each run, nothing flushed), and record
mode and /Tcm6 are compared with the default run into a new file.
"""
import array
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ARGS = sys.argv[1:]
AGAINST = None
if "--against" in ARGS:
    i = ARGS.index("--against")
    AGAINST = os.path.abspath(ARGS[i + 1])
    del ARGS[i:i + 2]
BUILD = os.path.abspath(ARGS[0] if ARGS else os.path.join(ROOT, "build-bench"))
WAVCONV = os.path.join(BUILD, "wavconv")
IO_FLOOR = os.path.join(BUILD, "io_floor")
RUNS = 9


def header(nsamp, datatype="i4", dfile="seg.w"):
    return ("%-6s %-8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6s %-1s %-2s %-1s "
            "%-64s %-32s %10d %8d %-17s\n") % ("ABC", "BHZ", 981947229.0, 1, 1, 2001043,
                                              981947229.0, nsamp, 10.0, 1.0, 1.0, "STS-2", "-",
                                              datatype, "-", "-", dfile, 0, -1, "2001/02/12")


def make_segment(directory, n):
    rng = random.Random(n)
    values = array.array("i", bytes(4 * n))
    v = 0
    for i in range(n):
        v += rng.randint(-20000, 20000)
        if v > 2000000 or v < -2000000:
            v //= 2
        values[i] = v
    if sys.byteorder != "little":
        values.byteswap()
    with open(os.path.join(directory, "seg.w"), "wb") as f:
        values.tofile(f)
    with open(os.path.join(directory, "hdr.wfdisc"), "w") as f:
        f.write(header(n))
    # The same samples big-endian (s4), for record mode.
    values.byteswap()
    with open(os.path.join(directory, "seg.s4"), "wb") as f:
        values.tofile(f)
    with open(os.path.join(directory, "rec.wfdisc"), "w") as f:
        f.write(header(n, "s4", "seg.s4"))


def timed(command, cwd):
    """Wall seconds of one run."""
    start = time.perf_counter()
    if subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit("failed: %s" % " ".join(command))
    return time.perf_counter() - start


def peak_rss_kib(command, cwd):
    """Peak RSS of one run, from /usr/bin/time (a forked child's own figure would include the
    parent's pages from before exec)."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, cwd=cwd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            check=True)
    return int(result.stderr.strip().splitlines()[-1])


def measure(n):
    work = tempfile.mkdtemp(prefix="wavconv-bench-")
    try:
        make_segment(work, n)
        convert = [WAVCONV, "hdr.wfdisc", "out.gse"]
        timed(convert, work)
        out_bytes = os.path.getsize(os.path.join(work, "out.gse"))
        floor = [IO_FLOOR, "seg.w", "floor.out", str(out_bytes)]
        other = [AGAINST, "hdr.wfdisc", "other.gse"] if AGAINST else None
        record = [WAVCONV, "/R", "rec.wfdisc", "rec.gse"]
        cm6 = [WAVCONV, "hdr.wfdisc", "cm6.gse", "/Tcm6"]
        conv_times, floor_times, other_times, record_times, cm6_times = [], [], [], [], []
        new_times, other_new_times = [], []
        for _ in range(RUNS):
            conv_times.append(timed(convert, work))
            os.remove(os.path.join(work, "out.gse"))
            new_times.append(timed(convert, work))
            if other:
                if os.path.exists(os.path.join(work, "other.gse")):
                    os.remove(os.path.join(work, "other.gse"))
                other_new_times.append(timed(other, work))
            floor_times.append(timed(floor, work))
            for name in ("rec.gse", "cm6.gse"):
                if os.path.exists(os.path.join(work, name)):
                    os.remove(os.path.join(work, name))
            record_times.append(timed(record, work))
            cm6_times.append(timed(cm6, work))
            if other:
                other_times.append(timed(other, work))
        rss = peak_rss_kib(convert, work)
        result = {
            "samples": n,
            "in_bytes": 4 * n,
            "out_bytes": out_bytes,
            "wavconv_ms": 1000 * statistics.median(conv_times),
            "new_ms": 1000 * statistics.median(new_times),
            "floor_ms": 1000 * statistics.median(floor_times),
            "rss_kib": rss,
            "record_ms": 1000 * statistics.median(record_times),
            "cm6_ms": 1000 * statistics.median(cm6_times),
            "cm6_bytes": os.path.getsize(os.path.join(work, "cm6.gse")),
        }
        if other:
            result["against_ms"] = 1000 * statistics.median(other_times)
            result["against_new_ms"] = 1000 * statistics.median(other_new_times)
        if shutil.which("valgrind"):
            cg = os.path.join(work, "cg.out")
            subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + cg] + convert,
                           cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           check=True)
            with open(cg) as f:
                total = next(int(l.split()[1]) for l in f if l.startswith("summary:"))
            result["instructions_per_sample"] = total / n
        return result
    finally:
        shutil.rmtree(work)


def main():
    for tool in (WAVCONV, IO_FLOOR):
        if not os.path.exists(tool):
            sys.exit("missing %s: cmake -S . -B build-bench -DWAVCONV_BENCH=ON && "
                     "cmake --build build-bench -j2" % tool)
    results = [measure(n) for n in (864000, 8640000)]
    for r in results:
        line = ("%9d samples: wavconv %7.1f ms, I/O floor %6.1f ms, ratio %4.2f, peak RSS %6.1f MiB"
                " (input %5.1f MiB, output %5.1f MiB)") % (
            r["samples"], r["wavconv_ms"], r["floor_ms"], r["wavconv_ms"] / r["floor_ms"],
            r["rss_kib"] / 1024, r["in_bytes"] / 2**20, r["out_bytes"] / 2**20)
        if "instructions_per_sample" in r:
            line += ", %.1f instructions/sample" % r["instructions_per_sample"]
        line += "; into a new file %.1f ms" % r["new_ms"]
        line += "; record mode (s4, new file) %.1f ms, ratio %.2f" % (
            r["record_ms"], r["record_ms"] / r["new_ms"])
        line += "; /Tcm6 (new file) %.1f ms, ratio %.2f (%.1f MiB)" % (
            r["cm6_ms"], r["cm6_ms"] / r["new_ms"], r["cm6_bytes"] / 2**20)
        if "against_ms" in r:
            line += "; against %.1f ms, ratio %.2f (new file: %.1f ms, ratio %.2f)" % (
                r["against_ms"], r["wavconv_ms"] / r["against_ms"], r["against_new_ms"],
                r["new_ms"] / r["against_new_ms"])
        print(line)
    print("growth 864,000 -> 8,640,000 samples: %.2fx wall time"
          % (results[1]["wavconv_ms"] / results[0]["wavconv_ms"]))


if __name__ == "__main__":
    main()
