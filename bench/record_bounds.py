#!/usr/bin/env python3
"""Time and memory of record mode set by what a record needs, not by its file or the run.

Usage: bench/record_bounds.py WAVCONV [--against OTHER_WAVCONV]

Cases (wall time of the median of 3 runs, peak RSS from /usr/bin/time):
  gzip-1GiB      one record of 100 samples at foff 0 of a gzip that inflates to 1 GiB (/R, /R /Q)
  gzip-20        twenty records at increasing offsets of one 64 MiB gzip, against one record at
                 the last offset (one inflation: the ratio stays near 1)
  e1-99999999    an e1 record of nsamp 99,999,999 with /L10
  records-100000 100,000 one-sample records, each into its own file
"""
import gzip
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ARGS = sys.argv[1:]
AGAINST = None
if "--against" in ARGS:
    i = ARGS.index("--against")
    AGAINST = os.path.abspath(ARGS[i + 1])
    del ARGS[i:i + 2]
if not ARGS:
    sys.exit(__doc__)
WAVCONV = os.path.abspath(ARGS[0])


def line(sta="ABC", chan="BHZ", time_=981947229.0, nsamp=0, rate=20.0, datatype="i4",
         dfile="s.w", foff=0):
    return ("%-6s %-8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6s %-1s %-2s %-1s "
            "%-64s %-32s %10d %8d %-17s\n") % (sta, chan, time_, 1, 1, 2001043, time_, nsamp, rate,
                                              1.0, 1.0, "STS-2", "-", datatype, "-", "-", dfile,
                                              foff, -1, "2001/02/12")


def run(program, args, cwd):
    """Wall seconds (median of 3) and peak RSS in MiB."""
    times, rss = [], 0
    for _ in range(3):
        start = time.perf_counter()
        result = subprocess.run(["/usr/bin/time", "-f", "%M", program] + args, cwd=cwd,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        times.append(time.perf_counter() - start)
        rss = max(rss, int(result.stderr.strip().splitlines()[-1]))
        for name in os.listdir(cwd):
            if name.endswith(".gse"):
                os.remove(os.path.join(cwd, name))
        out = os.path.join(cwd, "out")
        if os.path.isdir(out):
            shutil.rmtree(out)
            os.mkdir(out)
    return statistics.median(times), rss / 1024


def report(name, args, cwd):
    t, rss = run(WAVCONV, args, cwd)
    text = "%-28s %8.3f s %7.1f MiB" % (name, t, rss)
    if AGAINST:
        ot, orss = run(AGAINST, args, cwd)
        text += "   against %8.3f s %7.1f MiB" % (ot, orss)
    print(text, flush=True)
    return t


def main():
    work = tempfile.mkdtemp(prefix="wavconv-bounds-")
    try:
        # A gzip that inflates to 1 GiB (zeros), one record of 100 samples at its start.
        with gzip.open(os.path.join(work, "big.w.gz"), "wb", compresslevel=1) as f:
            block = bytes(1 << 20)
            for _ in range(1024):
                f.write(block)
        with open(os.path.join(work, "big.wfdisc"), "w") as f:
            f.write(line(nsamp=100, dfile="big.w.gz"))
        report("gzip-1GiB /R", ["/R", "big.wfdisc", "one.gse"], work)
        report("gzip-1GiB /R /Q", ["/R", "/Q", "big.wfdisc"], work)

        # Twenty records at increasing offsets of one 64 MiB gzip.
        with gzip.open(os.path.join(work, "mid.w.gz"), "wb", compresslevel=1) as f:
            f.write(bytes(64 << 20))
        step = (64 << 20) // 20
        with open(os.path.join(work, "twenty.wfdisc"), "w") as f:
            for i in range(20):
                f.write(line(time_=981947229.0 + i * 3600, nsamp=100, dfile="mid.w.gz",
                             foff=i * step))
        with open(os.path.join(work, "last.wfdisc"), "w") as f:
            f.write(line(nsamp=100, dfile="mid.w.gz", foff=19 * step))
        t20 = report("gzip-20 records", ["/R", "twenty.wfdisc", "all.gse"], work)
        t1 = report("gzip-1 record at the last", ["/R", "last.wfdisc", "all.gse"], work)
        print("  twenty records / one record: %.2f" % (t20 / t1))

        # e1: 99,999,999 zero samples in blocks of 57,330 (8,190 packets of 7 nine-bit zeros).
        samples_per_block, packets = 57330, 8190
        header = struct.pack(">HHB", 8 + 8 * packets, samples_per_block, 0) + bytes(3)
        block = header + bytes(8 * packets)
        count = 99999999
        with open(os.path.join(work, "e1.w"), "wb") as f:
            for _ in range((count + samples_per_block - 1) // samples_per_block):
                f.write(block)
        with open(os.path.join(work, "e1.wfdisc"), "w") as f:
            f.write(line(nsamp=count, datatype="e1", dfile="e1.w"))
        report("e1-99999999 /L10", ["/R", "/L10", "e1.wfdisc"], work)

        # 100,000 one-sample records, one file each.
        n = 100000
        with open(os.path.join(work, "many.w"), "wb") as f:
            f.write(struct.pack("<%di" % n, *range(n)))
        with open(os.path.join(work, "many.wfdisc"), "w") as f:
            for i in range(n):
                f.write(line(time_=981947229.0 + i, nsamp=1, dfile="many.w", foff=4 * i))
        os.mkdir(os.path.join(work, "out"))
        report("records-100000", ["/R", "many.wfdisc", "/Oout/"], work)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
