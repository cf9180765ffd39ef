#!/usr/bin/env python3
"""Converts a published GSE2.0 CM6 file back through wavconv and compares.

Usage: tools/cm6_roundtrip.py WAVCONV FILE.gse...

For each file: decodes its first CM6 block (WID2 fields, data lines, CHK2) with the decoder
here, writes the samples as an i4 file with a one-record wfdisc, converts that with
`wavconv /R /Tcm6`, and compares the data lines (trailing blanks aside), the WID2 fields and the
checksum. Prints one line per file; exits 1 on any difference. Not part of the test suite: the
published files are not the project's.
"""
import os
import struct
import subprocess
import sys
import tempfile

ALPHABET = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
INDEX = {c: i for i, c in enumerate(ALPHABET)}


def decode_cm6(text):
    """Second differences from CM6 characters, then the samples."""
    diffs, i = [], 0
    while i < len(text):
        c = INDEX[text[i]]
        i += 1
        value, negative, more = c & 15, c & 16, c & 32
        while more:
            c = INDEX[text[i]]
            i += 1
            value = (value << 5) | (c & 31)
            more = c & 32
        diffs.append(-value if negative else value)
    samples, a, b = [], 0, 0
    for d in diffs:
        x = d + 2 * a - b
        samples.append(x)
        a, b = x, a
    return samples


def read_block(path):
    lines = open(path, encoding="ascii", errors="replace").read().split("\n")
    start = next(i for i, l in enumerate(lines) if l.startswith("WID2"))
    wid2 = lines[start]
    dat = next(i for i in range(start, len(lines)) if lines[i].startswith("DAT2"))
    chk = next(i for i in range(dat, len(lines)) if lines[i].startswith("CHK2"))
    data_lines = [l.rstrip() for l in lines[dat + 1:chk]]
    return wid2, data_lines, int(lines[chk][4:].strip())


def wid2_fields(line):
    """The fields a conversion must keep: date, time, station, format, count, rate, calib,
    calper."""
    return (line[5:15], line[16:28], line[29:34].strip(), line[44:47], int(line[48:56]),
            float(line[57:68]), float(line[69:79]), float(line[80:87]))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    wavconv = os.path.abspath(sys.argv[1])
    failed = False
    for path in sys.argv[2:]:
        wid2, data_lines, checksum = read_block(path)
        samples = decode_cm6("".join(data_lines))
        date, time_, sta, _, count, rate, calib, calper = wid2_fields(wid2)
        assert count == len(samples), (count, len(samples))
        y, mo, d = (int(v) for v in date.split("/"))
        hh, mm, ss = time_.split(":")
        import calendar
        epoch = calendar.timegm((y, mo, d, int(hh), int(mm), 0)) + float(ss)
        chan = wid2[35:38].strip()
        work = tempfile.mkdtemp(prefix="wavconv-cm6-")
        with open(os.path.join(work, "s.w"), "wb") as f:
            f.write(struct.pack("<%di" % len(samples), *samples))
        with open(os.path.join(work, "h.wfdisc"), "w") as f:
            f.write(("%-6s %-8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6s %-1s %-2s "
                     "%-1s %-64s %-32s %10d %8d %-17s\n") % (
                sta, chan, epoch, -1, -1, -1, epoch, len(samples), rate, calib, calper, "-", "-",
                "i4", "-", "-", "s.w", 0, -1, "-"))
        result = subprocess.run([wavconv, "/R", "/Tcm6", "h.wfdisc", "out.gse"], cwd=work,
                                capture_output=True, text=True)
        ours_wid2, ours_lines, ours_checksum = read_block(os.path.join(work, "out.gse"))
        same_lines = ours_lines == data_lines
        same_wid2 = wid2_fields(ours_wid2) == wid2_fields(wid2)
        same_checksum = ours_checksum == checksum
        print("%s: %d samples, status %d, data lines %s, WID2 fields %s, checksum %s (%d)" % (
            os.path.basename(path), len(samples), result.returncode,
            "equal" if same_lines else "DIFFER", "equal" if same_wid2 else "DIFFER",
            "equal" if same_checksum else "DIFFERS", checksum))
        if not same_wid2:
            print("  theirs:", wid2_fields(wid2), "\n  ours:  ", wid2_fields(ours_wid2))
        failed = failed or not (same_lines and same_wid2 and same_checksum)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
