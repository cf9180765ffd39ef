#!/usr/bin/env python3
"""Time and memory of runs whose size an attacker or a cluster job chooses.

Usage: bench/scale_run.py WAVCONV [CASE...]

Cases (wall time of the median of 3 runs, peak RSS from /usr/bin/time):
  tables-gzip    a site table that inflates to 1 GiB of line ends (refused at 256 MiB)
  tables-sparse  a sparse site table of 1 GiB (refused at its first 1,025 bytes)
  tables-rows    40,000 records with 80,000 site and sitechan rows, against no tables
  headers        /M with 2,000 and with 80,000 one-sample headers: time per header and RSS
  refused        /M /R over 10 headers of 100,000 refused records each
"""
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

if len(sys.argv) < 2:
    sys.exit(__doc__)
WAVCONV = os.path.abspath(sys.argv[1])
CASES = sys.argv[2:] or ["tables-gzip", "tables-sparse", "tables-rows", "headers", "refused"]


def line(sta="ABC", chan="BHZ", time_=981947229.0, nsamp=0, dfile="s.w", foff=0):
    return ("%-6s %-8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6s %-1s %-2s %-1s "
            "%-64s %-32s %10d %8d %-17s\n") % (sta, chan, time_, 1, 1, 2001043, time_, nsamp, 20.0,
                                              1.0, 1.0, "STS-2", "-", "i4", "-", "-", dfile, foff,
                                              -1, "2001/02/12")


def site(sta, ondate, lat):
    return "%-6s %8d %8d %9.4f %9.4f %9.4f %-50s %-4s %-6s %9.4f %9.4f %-17s\n" % (
        sta, ondate, -1, lat, 10.0, 0.5, "A station", "ss", sta, 0.0, 0.0, "2006/10/09")


def sitechan(sta, chan, ondate):
    return "%-6s %-8s %8d %8d %8d %-4s %9.4f %6.1f %6.1f %-50s %-17s\n" % (
        sta, chan, ondate, 1, -1, "n", 0.01, 0.0, 90.0, "A channel", "2006/10/09")


def run(args, cwd, clean=None):
    """Wall seconds (median of 3) and peak RSS in MiB."""
    times, rss = [], 0
    for _ in range(3):
        if clean:
            shutil.rmtree(os.path.join(cwd, clean), ignore_errors=True)
            os.mkdir(os.path.join(cwd, clean))
        start = time.perf_counter()
        result = subprocess.run(["/usr/bin/time", "-f", "%M", WAVCONV] + args, cwd=cwd,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        times.append(time.perf_counter() - start)
        rss = max(rss, int(result.stderr.strip().splitlines()[-1]))
    return statistics.median(times), rss / 1024


def tables_gzip(d):
    with open(os.path.join(d, "h.wfdisc"), "w") as f:
        f.write(line(nsamp=1))
    with open(os.path.join(d, "s.w"), "wb") as f:
        f.write(struct.pack("<i", 1))
    z = zlib.compressobj(9, zlib.DEFLATED, 31)
    chunk = b"\n" * (1 << 20)
    with open(os.path.join(d, "h.site.gz"), "wb") as f:
        for _ in range(1024):
            f.write(z.compress(chunk))
        f.write(z.flush())
    t, m = run(["/R", "/Oout/", "h.wfdisc"], d, clean="out")
    print("tables-gzip    1 GiB of line ends inflated: %.3f s, %.1f MiB" % (t, m))


def tables_sparse(d):
    with open(os.path.join(d, "h.wfdisc"), "w") as f:
        f.write(line(nsamp=1))
    with open(os.path.join(d, "s.w"), "wb") as f:
        f.write(struct.pack("<i", 1))
    with open(os.path.join(d, "h.site"), "wb") as f:
        f.truncate(1 << 30)
    t, m = run(["/R", "/Oout/", "h.wfdisc"], d, clean="out")
    print("tables-sparse  1 GiB sparse site table: %.3f s, %.1f MiB" % (t, m))


def tables_rows(d):
    stations = ["S%04d" % i for i in range(400)]
    with open(os.path.join(d, "h.wfdisc"), "w") as f:
        for i in range(40000):
            f.write(line(sta=stations[i % 400], chan="BH%d" % (i // 400 % 100),
                         time_=981947229.0 + i, nsamp=1))
    with open(os.path.join(d, "s.w"), "wb") as f:
        f.write(struct.pack("<i", 1))
    base = os.path.join(d, "t")
    os.mkdir(base)
    shutil.copy(os.path.join(d, "h.wfdisc"), os.path.join(base, "h.wfdisc"))
    shutil.copy(os.path.join(d, "s.w"), os.path.join(base, "s.w"))
    with open(os.path.join(base, "h.site"), "w") as f:
        for i in range(40000):
            f.write(site(stations[i % 400], 1990001 + i // 400, 10 + i % 7))
    with open(os.path.join(base, "h.sitechan"), "w") as f:
        for i in range(40000):
            f.write(sitechan(stations[i % 400], "BH%d" % (i // 400 % 100), 1990001 + i // 4000))
    for label, args, clean in (("a file each", ["/R", "/Oout/", "h.wfdisc"], "out"),
                               ("one output", ["/R", "h.wfdisc", "all.gse"], None)):
        bare, tabled = [], []
        for _ in range(3):  # alternating, against the machine's drift
            bare.append(run(args, d, clean=clean)[0])
            t, m = run(args, base, clean=clean)
            tabled.append(t)
        b, t = statistics.median(bare), statistics.median(tabled)
        print("tables-rows    40,000 records, %s: %.2f s without tables, %.2f s with 80,000 "
              "rows (%.2fx), %.1f MiB" % (label, b, t, t / b, m))


def headers(d):
    for n in (2000, 80000):
        sub = os.path.join(d, "h%d" % n)
        os.mkdir(sub)
        names = []
        for i in range(n):
            name = "h%05d.wfdisc" % i
            with open(os.path.join(sub, name), "w") as f:
                f.write(line(dfile="s%05d.w" % i))
            with open(os.path.join(sub, "s%05d.w" % i), "wb") as f:
                f.write(struct.pack("<i", i))
            names.append(name)
        t, m = run(["/M", "/Oout/", "--"] + names, sub, clean="out")
        print("headers        %6d one-sample headers: %.2f s, %.1f us a header, %.1f MiB"
              % (n, t, t / n * 1e6, m))


def refused(d):
    text = line(dfile="missing.w") * 100000
    names = []
    for i in range(10):
        name = "h%d.wfdisc" % i
        with open(os.path.join(d, name), "w") as f:
            f.write(text)
        names.append(name)
    t, m = run(["/M", "/R", "--"] + names, d)
    print("refused        10 headers of 100,000 refused records: %.2f s, %.1f MiB" % (t, m))


for case in CASES:
    with tempfile.TemporaryDirectory() as d:
        {"tables-gzip": tables_gzip, "tables-sparse": tables_sparse, "tables-rows": tables_rows,
         "headers": headers, "refused": refused}[case](d)
