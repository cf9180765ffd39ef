#!/usr/bin/env python3
"""Writes the inputs of the whole-run golden cases and of the bundled example.

The expected outputs are produced by the program (tools/run_golden.py --update) and reviewed.
"""
import gzip
import math
import os
import shutil
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GOLDEN = os.path.join(ROOT, "tests", "golden")


def header(sta="ABC", chan="BHZ", time=981947229.0, jdate=2001043, nsamp=0, samprate=20.0,
           calib=1.0, calper=1.0, instype="STS-2", datatype="i4", dir="-", dfile="abc.w", foff=0):
    return ("%-6.6s %-8.8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6.6s %-1s "
            "%-2.2s %-1s %-64.64s %-32.32s %10d %8d %-17s\n") % (
        sta, chan, time, 1, 1, jdate, time, nsamp, samprate, calib, calper, instype, "-",
        datatype, "-", dir, dfile, foff, -1, "2001/02/12")


def kb_core_header(sta, chan, time, nsamp, samprate, datatype, dfile, foff, dir="-",
                   calib=1.0, calper=1.0, instype="STS-2"):
    """A record in the 287-column NNSA KB Core layout."""
    line = ("%-6.6s %-8.8s %17.5f %9d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6.6s %-1s %-2.2s "
            "%-1s %-64.64s %-32.32s %10d %9d %-17s") % (
        sta, chan, time, 7, 7, 2001043, time, nsamp, samprate, calib, calper, instype, "-",
        datatype, "-", dir, dfile, foff, -1, "25-APR-08")
    assert len(line) <= 287
    return line.ljust(287) + "\n"


def random_walk(n, seed=12345, scale=300):
    values, v, state = [], 0, seed
    for _ in range(n):
        state = (state * 1103515245 + 12345) % 2**31
        v += (state % (2 * scale + 1)) - scale
        values.append(v)
    return values


def sample_bytes(values):
    return b"".join(struct.pack("<i", v) for v in values)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


SMALL = [0, 1, -1, 7, -42, 1234567, -1234567, 99999999, -9999999, 10, 100, 1000, 10000,
         100000, 1000000, 10000000, -10, -100, -1000, -10000, -100000, -1000000, 5, 6, 7]


def case(name, args, files):
    base = os.path.join(GOLDEN, name)
    shutil.rmtree(os.path.join(base, "in"), ignore_errors=True)
    write(os.path.join(base, "args"), "".join(a + "\n" for a in args))
    for rel, data in files.items():
        write(os.path.join(base, "in", rel), data)


def archive():
    """A small archive of the kinds record mode reads: three channels in one big-endian file at
    three offsets, a gzipped little-endian 16-bit record, a float record whose samples have
    fractions, a KB Core header; and the bundled archive example's files."""
    n, rate, t0 = 1200, 20.0, 981947229.0
    chans = [[v // 3 + k * 1000 for v in random_walk(n, seed=31 + k, scale=400)] for k in range(3)]
    quiet = [max(-32768, min(32767, v)) for v in random_walk(600, seed=77, scale=200)]
    floats = [v / 4.0 for v in random_walk(300, seed=5, scale=40)]
    files = {
        "three.w": b"".join(struct.pack(">%di" % n, *c) for c in chans),
        "quiet.w.gz": gzip.compress(struct.pack("<%dh" % len(quiet), *quiet), mtime=0),
        "float.w": struct.pack(">%df" % len(floats), *floats),
    }
    files["archive.wfdisc"] = "".join([
        header(sta="WVC01", chan="HHZ", time=t0, nsamp=n, samprate=rate, datatype="s4",
               dfile="three.w", foff=0),
        header(sta="WVC01", chan="HHN", time=t0, nsamp=n, samprate=rate, datatype="s4",
               dfile="three.w", foff=4 * n),
        header(sta="WVC01", chan="HHE", time=t0 + 0.0125, nsamp=n, samprate=rate,
               datatype="s4", dir=".", dfile="three.w", foff=8 * n),
        "\n",
        header(sta="WVC02", chan="BHZ", time=t0 + 30.5, nsamp=0, samprate=10.0, datatype="i2",
               dfile="quiet.w"),
        header(sta="WVC03", chan="SHZ", time=t0 - 3600, nsamp=300, samprate=5.0, datatype="t4",
               dfile="float.w"),
    ])
    files["kbcore.wfdisc"] = (
        kb_core_header("WVC01", "HHZ", t0, n, rate, "s4", "three.w", 0) +
        kb_core_header("WVC01", "HHE", t0 + 0.0125, n, rate, "s4", "three.w", 8 * n))
    return files


def e1_block_28bit(values, differences):
    """One e1 block of 28-bit packets only (prefix 1111), after `differences` rounds of
    differencing."""
    r = list(values)
    for _ in range(differences):
        r = [r[0]] + [r[i] - r[i - 1] for i in range(1, len(r))]
    body = b"".join(struct.pack(">I", 0xF0000000 | (v & 0x0FFFFFFF)) for v in r)
    return (struct.pack(">HHB", 8 + len(body), len(values), differences) +
            struct.pack(">i", values[-1] & 0xFFFFFF)[1:] + body)


# A public e1 test vector: one block of 40 samples (sum 11315).
E1_VECTOR = bytes.fromhex(
    "003800280100019c90101441783a24b0ee979a24c51cc22d05f57d54200b5000c95e56bdc6533aa0777720d1"
    "cebfa6528160f04df0000006")


def packed_archive():
    """Records of the packed datatypes: e1 (the public vector, and two blocks of this script's
    own), g2, c0 with odd white space, and an e1 record whose check value is wrong."""
    walk = random_walk(150, seed=99, scale=3000)
    own = e1_block_28bit(walk[:100], 2) + e1_block_28bit(walk[100:], 1)
    damaged = bytearray(E1_VECTOR)
    damaged[7] ^= 0x01
    g2 = b"".join(struct.pack(">H", (g << 14) | (v * 1237) % 16384)
                  for v, g in enumerate([0, 1, 2, 3] * 20))
    c0 = "  12\t-7\r\n+3 \v 2147483\f\n" + " ".join(str(v) for v in walk[:50]) + "\n"
    t0 = 981947229.0
    return {
        "e1.w": b"JUNK" + E1_VECTOR + own + bytes(damaged),
        "g2.w": g2,
        "c0.txt": c0,
        "packed.wfdisc": "".join([
            header(sta="PK01", chan="e1a", time=t0, nsamp=40, datatype="e1", dfile="e1.w",
                   foff=4),
            header(sta="PK01", chan="e1b", time=t0, nsamp=150, datatype="e1", dfile="e1.w",
                   foff=4 + len(E1_VECTOR)),
            header(sta="PK01", chan="g2", time=t0, nsamp=80, datatype="g2", dfile="g2.w"),
            header(sta="PK01", chan="c0", time=t0, nsamp=54, datatype="c0", dfile="c0.txt"),
            header(sta="PK01", chan="bad", time=t0, nsamp=40, datatype="e1", dfile="e1.w",
                   foff=4 + len(E1_VECTOR) + len(own)),
        ]),
    }


def main():
    std = {"hdr.wfdisc": header(nsamp=25), "abc.w": sample_bytes(SMALL)}
    case("typical_jump_length", ["hdr.wfdisc", "/J60", "/L600", "/Iin/", "/Oout/"],
         {"in/hdr.wfdisc": header(nsamp=180000), "in/abc.w": sample_bytes(random_walk(180000)),
          "out/.keep": ""})
    case("default_name", ["hdr.wfdisc"], std)
    case("explicit_name", ["hdr.wfdisc", "out.gse"], std)
    case("third_name_ignored", ["hdr.wfdisc", "out.gse", "extra.gse"], std)
    case("dirs_with_separator", ["hdr.wfdisc", "/icss/", "/ogse/"],
         {"css/hdr.wfdisc": header(), "css/abc.w": sample_bytes(SMALL), "gse/.keep": ""})
    case("dirs_without_separator", ["hdr.wfdisc", "/Iin", "/Oout"],
         {"inhdr.wfdisc": header(), "abc.w": sample_bytes(SMALL)})
    case("samples_too_wide", ["hdr.wfdisc"],
         {"hdr.wfdisc": header(), "abc.w": sample_bytes([1, 123456789, -10000000, -9999999])})
    case("longer_output_replaced", ["hdr.wfdisc", "out.gse"], dict(std, **{"out.gse": "WID1" + "x" * 19996}))
    # nsamp, datatype and foff that disagree with the sample file change nothing.
    case("header_disagrees_with_samples", ["hdr.wfdisc"],
         {"hdr.wfdisc": header(nsamp=5000, datatype="s4", foff=4000),
          "abc.w": sample_bytes(SMALL)})
    case("missing_sample_file", ["hdr.wfdisc"], {"hdr.wfdisc": header()})
    case("samprate_zero", ["hdr.wfdisc"],
         {"hdr.wfdisc": header(samprate=0.0), "abc.w": sample_bytes(SMALL)})
    case("usage_no_arguments", [], {})
    case("usage_only_options", ["/data/css/hdr.wfdisc"], {})
    # 2001-12-31 23:59:30 at 1 sample per second: a jump of 60 s starts the block in 2002.
    files = archive()
    for name, data in files.items():
        write(os.path.join(ROOT, "examples", "archive", name), data)
    case("records_default_names", ["/R", "archive.wfdisc"], files)
    case("records_one_output_rounded", ["/R", "/F", "archive.wfdisc", "all.gse", "/J10", "/L30"],
         files)
    case("records_kb_core_one_record", ["/r2", "kbcore.wfdisc", "/Ogse/"],
         dict(files, **{"gse/.keep": ""}))
    case("records_query", ["/R", "/Q", "archive.wfdisc"], files)
    case("records_packed", ["/R", "packed.wfdisc", "packed.gse"], packed_archive())
    # Output formats: GSE2.0 CM6 in the default run, INT per record, one IMS2.0 message, an
    # unknown format, and a station GSE2.0 cannot hold.
    case("format_cm6_default_run", ["hdr.wfdisc", "/Tcm6"],
         {"hdr.wfdisc": header(), "abc.w": sample_bytes(random_walk(500))})
    case("format_cm6_too_large", ["hdr.wfdisc", "/Tcm6"], std)
    case("format_int_per_record", ["/R", "/Tint", "archive.wfdisc"], files)
    case("format_ims_one_output",
         ["/R", "/F", "/TIMS", "/J10", "/L30", "archive.wfdisc", "arc.msg"],
         files)
    case("format_unknown", ["hdr.wfdisc", "/Tgse2"], std)
    case("format_station_too_long", ["hdr.wfdisc", "/Tcm6"],
         {"hdr.wfdisc": header(sta="ABCDEF"), "abc.w": sample_bytes(SMALL)})
    # Station tables beside the archive: coordinates and orientations in every format, a
    # station whose two site rows disagree (the later ondate wins), one line that does not read.
    def site_line(sta, ondate, offdate, lat, lon, elev):
        return "%-6s %8d %8d %9.4f %9.4f %9.4f %-50s %-4s %-6s %9.4f %9.4f %-17s\n" % (
            sta, ondate, offdate, lat, lon, elev, "Wavconv test station", "ss", sta, 0.0, 0.0,
            "2001/02/12")
    def sitechan_line(sta, chan, ondate, edepth, hang, vang):
        return "%-6s %-8s %8d %8d %8d %-4s %9.4f %6.1f %6.1f %-50s %-17s\n" % (
            sta, chan, ondate, 1, -1, "n", edepth, hang, vang, "Wavconv test channel",
            "2001/02/12")
    sited = dict(files)
    sited["archive.site"] = (site_line("WVC01", 1999001, -1, 46.7712, 9.3456, 1.234) +
                             site_line("WVC02", 2000001, 2001010, 46.5, 9.5, 0.8) +
                             site_line("WVC02", 2000001, -1, 46.4, 9.6, 0.9) +
                             site_line("WVC02", 2001040, -1, 46.41, 9.61, 0.91) +
                             "WVC03  this line does not read\n")
    sited["archive.sitechan"] = (sitechan_line("WVC01", "HHZ", 1999001, 0.012, -1, 0) +
                                 sitechan_line("WVC01", "HHN", 1999001, 0.012, 0, 90) +
                                 sitechan_line("WVC01", "HHE", 1999001, 0.012, 90, 90))
    case("site_tables_gse1", ["/R", "/S", "archive.wfdisc", "all.gse"], sited)
    case("site_tables_cm6", ["/R", "/S", "/Tcm6", "archive.wfdisc", "all.gse"], sited)
    case("site_tables_int", ["/R", "/S", "/Tint", "/L5", "archive.wfdisc"], sited)
    case("site_tables_ims", ["/R", "/S", "/Tims", "/L5", "archive.wfdisc", "all.msg"], sited)
    case("site_tables_query", ["/R", "/Q", "/S", "archive.wfdisc"], sited)
    case("jump_across_new_year", ["hdr.wfdisc", "/J60", "/L20"],
         {"hdr.wfdisc": header(time=1009843170.0, jdate=2001365, samprate=1.0),
          "abc.w": sample_bytes(random_walk(200))})

    # The bundled example: three minutes at 20 samples per second, a quiet background with a
    # small local event (P and S arrivals with decaying coda) 60 s in.
    n, rate = 3600, 20.0
    noise = random_walk(n, seed=777, scale=40)
    trend = [sum(noise[max(0, i - 20):i + 1]) // len(noise[max(0, i - 20):i + 1]) for i in range(n)]
    values = []
    for i in range(n):
        t = i / rate
        v = noise[i] - trend[i]
        for onset, amp, freq, decay in ((60.0, 9000, 6.0, 2.5), (67.5, 25000, 3.0, 6.0)):
            if t >= onset:
                dt = t - onset
                v += amp * math.exp(-dt / decay) * math.sin(2 * math.pi * freq * dt) * \
                    min(1.0, dt * 4)
        values.append(int(round(v)))
    write(os.path.join(ROOT, "examples", "example.wfdisc"),
          header(sta="WVC01", chan="HHZ", time=981947229.0, jdate=2001043, nsamp=n,
                 samprate=rate, calib=0.0421, calper=1.0, instype="STS-2", dfile="example.w"))
    write(os.path.join(ROOT, "examples", "example.w"), sample_bytes(values))


if __name__ == "__main__":
    main()
