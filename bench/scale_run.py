#!/usr/bin/env python3
"""Time and memory of runs whose size an attacker or a cluster job chooses.

Usage: bench/scale_run.py WAVCONV [CASE...]

Cases (wall time of the median of 3 runs, peak RSS from /usr/bin/time):
  tables-gzip    a site table that inflates to 1 GiB of line ends (refused at 256 MiB)
  tables-sparse  a sparse site table of 1 GiB (refused at its first 1,025 bytes)
  tables-rows    40,000 records with 80,000 site and sitechan rows, against no tables
  headers        /M with 2,000 and with 80,000 one-sample headers: time per header and RSS
  refused        /M /R over 10 headers of 100,000 refused records each
  gzip-far       six records alternating foff 1e9 and 0 of one gzip, against one at 1e9
  gzip-hourly    2,400 gzipped records (100 channel files of 24 hourly records) listed hour by
                 hour, against the same sorted by file
  threads        /R /P2 against /R /P1 on 2,400 plain records, a file each and one output
  tint           /Tint against /Tgse1 on 8,640,000 samples
  mseed          /Tmseed (Steim-2) on 8,640,000 samples against libmseed packing them alone
                 (mseed_pack, built beside WAVCONV) and against /Tcm6; every format's size
  window         a ten-minute window of 9 channels across an hour boundary of 100 channels x
                 24 hourly records (four sample files): time, RSS, bytes read, against /R on
                 those channels' records of the day
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
CASES = sys.argv[2:] or ["tables-gzip", "tables-sparse", "tables-rows", "headers", "refused",
                         "gzip-far", "gzip-hourly", "threads", "tint", "mseed", "window"]


def line(sta="ABC", chan="BHZ", time_=981947229.0, nsamp=0, dfile="s.w", foff=0, rate=20.0,
         datatype="i4"):
    return ("%-6s %-8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6s %-1s %-2s %-1s "
            "%-64s %-32s %10d %8d %-17s\n") % (sta, chan, time_, 1, 1, 2001043, time_, nsamp, rate,
                                              1.0, 1.0, "STS-2", "-", datatype, "-", "-", dfile,
                                              foff, -1, "2001/02/12")


SIGNALS = {}


def signal(count, seed):
    """Big-endian 32-bit samples of a noisy wave (one of 16 per length, made once)."""
    import array
    import math
    import random
    key = (count, seed % 16)
    if key in SIGNALS:
        return SIGNALS[key]
    random.seed(key[1])
    values = array.array("i", (int(800 * math.sin(i / 37.0)) + random.randint(-50, 50)
                               for i in range(count)))
    values.byteswap()
    SIGNALS[key] = values.tobytes()
    return SIGNALS[key]


def gzip_of_zeros(path, zeros, tail):
    """A gzip file of `zeros` zero bytes then `tail`: one flushed piece of zeros repeated."""
    piece_size = 16 << 20
    piece = zlib.compressobj(1, zlib.DEFLATED, -15)
    block = piece.compress(b"\0" * piece_size) + piece.flush(zlib.Z_FULL_FLUSH)
    crc = 0
    zeros_piece = b"\0" * piece_size
    with open(path, "wb") as f:
        f.write(b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff")
        for _ in range(zeros // piece_size):
            f.write(block)
            crc = zlib.crc32(zeros_piece, crc)
        rest = b"\0" * (zeros % piece_size) + tail
        last = zlib.compressobj(1, zlib.DEFLATED, -15)
        f.write(last.compress(rest) + last.flush())
        crc = zlib.crc32(rest, crc)
        f.write(struct.pack("<II", crc & 0xffffffff, (zeros + len(tail)) & 0xffffffff))


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


def gzip_far(d):
    gzip_of_zeros(os.path.join(d, "z.w.gz"), 1000000000, b"\0" * 400)
    with open(os.path.join(d, "far.wfdisc"), "w") as f:
        f.write(line(nsamp=100, dfile="z.w.gz", foff=1000000000))
    with open(os.path.join(d, "alt.wfdisc"), "w") as f:
        for i in range(6):
            f.write(line(nsamp=100, dfile="z.w.gz", foff=1000000000 if i % 2 == 0 else 0))
    one, _ = run(["/R", "/P1", "far.wfdisc", "far.gse"], d)
    six, m = run(["/R", "/P1", "alt.wfdisc", "alt.gse"], d)
    print("gzip-far       one record at 1e9: %.2f s; six alternating 1e9 and 0: %.2f s (%.2fx), "
          "%.1f MiB" % (one, six, six / one, m))


def gzip_hourly(d):
    import gzip
    hour = 36000  # samples: an hour at 10 samples a second
    by_hour, by_file = [], []
    for c in range(100):
        name = "c%03d.w.gz" % c
        with gzip.open(os.path.join(d, name), "wb", compresslevel=1) as f:
            for h in range(24):
                f.write(signal(hour, c * 24 + h))
        for h in range(24):
            record = line(sta="S%02d" % (c // 3), chan="BH%d" % (c % 3), time_=981943200.0 +
                          3600 * h + c * 0.001, nsamp=hour, dfile=name, foff=h * hour * 4,
                          rate=10.0, datatype="s4")
            by_file.append(record)
            by_hour.append((h, c, record))
    with open(os.path.join(d, "file.wfdisc"), "w") as f:
        f.writelines(by_file)
    with open(os.path.join(d, "hour.wfdisc"), "w") as f:
        f.writelines(r for _, _, r in sorted(by_hour))
    sorted_time, _ = run(["/R", "/P1", "file.wfdisc", "file.gse"], d)
    hourly, m = run(["/R", "/P1", "hour.wfdisc", "hour.gse"], d)
    print("gzip-hourly    2,400 gzipped records: sorted by file %.2f s, hour by hour %.2f s "
          "(%.2fx), %.1f MiB" % (sorted_time, hourly, hourly / sorted_time, m))


def threads(d):
    hour = 144000  # 40 samples a second
    with open(os.path.join(d, "big.w"), "wb") as f:
        for c in range(10):
            f.write(signal(hour, c) * 24)
    with open(os.path.join(d, "h.wfdisc"), "w") as f:
        for c in range(100):
            for h in range(24):
                f.write(line(sta="S%02d" % c, chan="BHZ", time_=981943200.0 + 3600 * h,
                             nsamp=hour, dfile="big.w", foff=((c % 10) * 24 + h) * hour * 4,
                             rate=40.0, datatype="s4"))
    # A file each (the folder emptied before each run), and all into one new file, /P1 and /P2
    # side by side.
    for what, args, clean in (("a file each", ["/Oout/", "h.wfdisc"], "out"),
                              ("one output", ["h.wfdisc", "out/one.gse"], "out")):
        one, two, m = [], [], 0
        for _ in range(3):
            one.append(run(["/R", "/P1"] + args, d, clean)[0])
            t, m2 = run(["/R", "/P2"] + args, d, clean)
            two.append(t)
            m = max(m, m2)
        one, two = statistics.median(one), statistics.median(two)
        print("threads        2,400 records of 144,000 samples, %s: /P1 %.2f s, /P2 %.2f s "
              "(%.2fx), %.1f MiB" % (what, one, two, two / one, m))


def day_of_samples(d):
    """h.wfdisc: 8,640,000 little-endian samples at 100 a second in big.w (the default run)."""
    with open(os.path.join(d, "big.w"), "wb") as f:
        data = bytearray(signal(864000, 1))
        for i in range(0, len(data), 4):
            data[i:i + 4] = data[i:i + 4][::-1]
        f.write(bytes(data) * 10)
    with open(os.path.join(d, "h.wfdisc"), "w") as f:
        f.write(line(dfile="big.w", rate=100.0))


def tint(d):
    day_of_samples(d)
    gse1, int_ = [], []
    for _ in range(5):
        gse1.append(run(["/Tgse1", "h.wfdisc", "o1.gse"], d)[0])
        int_.append(run(["/Tint", "h.wfdisc", "o2.gse"], d)[0])
    g, i = statistics.median(gse1), statistics.median(int_)
    print("tint           8,640,000 samples: /Tgse1 %.3f s, /Tint %.3f s (%.2fx)" % (g, i, i / g))


def mseed(d):
    day_of_samples(d)
    pack = os.path.join(os.path.dirname(WAVCONV), "mseed_pack")
    ours, alone, cm6 = [], [], []
    for _ in range(7):
        ours.append(run(["/Tmseed", "h.wfdisc", "o.mseed"], d)[0])
        start = time.perf_counter()
        subprocess.run([pack, "big.w", "alone.mseed"], cwd=d, check=True)
        alone.append(time.perf_counter() - start)
        cm6.append(run(["/Tcm6", "h.wfdisc", "o.cm6"], d)[0])
    m, a, c = (statistics.median(x) for x in (ours, alone, cm6))
    print("mseed          8,640,000 samples: /Tmseed %.3f s, libmseed alone %.3f s (%.2fx), "
          "/Tcm6 %.3f s (/Tmseed %.2fx)" % (m, a, m / a, c, m / c))
    sizes = {}
    for name, args in [("gse1", ["/Tgse1"]), ("int", ["/Tint"]), ("cm6", ["/Tcm6"]),
                       ("ims", ["/Tims"]), ("mseed steim2", ["/Tmseed"]),
                       ("mseed steim1", ["/Tmseed", "--encoding", "steim1"]),
                       ("mseed int32", ["/Tmseed", "--encoding", "int32"]), ("sac", ["/Tsac"])]:
        out = "size." + name.replace(" ", "_")
        subprocess.run([WAVCONV, "h.wfdisc", out] + args, cwd=d, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        sizes[name] = os.path.getsize(os.path.join(d, out)) if os.path.exists(
            os.path.join(d, out)) else 0
    print("               sizes (MB): " + ", ".join(
        "%s %.1f" % (k, v / 1e6) for k, v in sizes.items()) +
        "; Steim-2 / CM6 %.2f" % (sizes["mseed steim2"] / sizes["cm6"]))


def bytes_read(args, cwd):
    """The bytes a run read (rchar of /proc/PID/io, taken before the process is reaped)."""
    p = subprocess.Popen([WAVCONV] + args, cwd=cwd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOWAIT)
    with open("/proc/%d/io" % p.pid) as f:
        io = dict(line.split(": ") for line in f.read().splitlines())
    p.wait()
    return int(io["rchar"])


def window(d):
    hour = 144000  # 40 samples a second
    for n in range(4):
        with open(os.path.join(d, "day%d.w" % n), "wb") as f:
            for c in range(25):
                f.write(signal(hour, c) * 24)
    chosen = ["S%02d" % c for c in range(1, 10)]
    with open(os.path.join(d, "h.wfdisc"), "w") as all_, open(os.path.join(d, "nine.wfdisc"),
                                                               "w") as nine:
        for c in range(100):
            for h in range(24):
                text = line(sta="S%02d" % c, chan="BHZ", time_=981936000.0 + 3600 * h,
                            nsamp=hour, dfile="day%d.w" % (c // 25),
                            foff=((c % 25) * 24 + h) * hour * 4, rate=40.0, datatype="s4")
                all_.write(text)
                if "S%02d" % c in chosen:
                    nine.write(text)
    args = ["--from", "2001-02-12T02:55:00", "--to", "+600", "--sta", ",".join(chosen),
            "h.wfdisc", "out/w.gse"]
    t, m = run(args, d, "out")
    read = bytes_read(args, d)
    window_bytes = 9 * 600 * 40 * 4
    header = os.path.getsize(os.path.join(d, "h.wfdisc"))
    whole, _ = run(["/R", "/Oout/", "nine.wfdisc"], d, "out")
    print("window         10 minutes of 9 channels: %.3f s, %.1f MiB, read %.2fx the window's "
          "samples + header; /R on their day %.2f s (%.0fx)"
          % (t, m, read / (window_bytes + header), whole, whole / t))


for case in CASES:
    with tempfile.TemporaryDirectory() as d:
        {"tables-gzip": tables_gzip, "tables-sparse": tables_sparse, "tables-rows": tables_rows,
         "headers": headers, "refused": refused, "gzip-far": gzip_far,
         "gzip-hourly": gzip_hourly, "threads": threads, "tint": tint, "mseed": mseed,
         "window": window}[case](d)
