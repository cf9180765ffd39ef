#!/usr/bin/env python3
"""Checks wavconv's miniSEED and SAC files with other programs' readers (Debian's mseed2sac and
sac2mseed). Usage: tools/other_readers.py WAVCONV

An archive is made (counts of several sizes at 20, 100 and 3 samples a second, a start with
microseconds, 32-bit floats, a gap between two records of one channel, a station table and an
affiliation table) and converted with /R into /Tmseed (every encoding) and /Tsac. mseed2sac
converts each miniSEED file; its SAC files must equal wavconv's own /Tsac files sample for sample
and in every header field that both set. sac2mseed must read each of wavconv's SAC files, and its
miniSEED, turned back into SAC by mseed2sac, must hold the same samples."""
import glob
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

REALS = ["delta", "depmin", "depmax", "scale", "odelta", "b", "e", "o", "a", "fmt"] + \
        ["t%d" % i for i in range(10)] + ["f"] + ["resp%d" % i for i in range(10)] + \
        ["stla", "stlo", "stel", "stdp", "evla", "evlo", "evel", "evdp", "mag"] + \
        ["user%d" % i for i in range(10)] + \
        ["dist", "az", "baz", "gcarc", "sb", "sdelta", "depmen", "cmpaz", "cmpinc"] + \
        ["x%d" % i for i in range(11)]
INTS = ["nzyear", "nzjday", "nzhour", "nzmin", "nzsec", "nzmsec", "nvhdr", "norid", "nevid",
        "npts", "nsnpts", "nwfid", "nxsize", "nysize", "u15", "iftype", "idep", "iztype"] + \
       ["i%d" % i for i in range(17)] + ["leven", "lpspol", "lovrok", "lcalda", "u27"]
TEXTS = ["kstnm", "kevnm", "khole", "ko", "ka"] + ["kt%d" % i for i in range(10)] + \
        ["kf", "kuser0", "kuser1", "kuser2", "kcmpnm", "knetwk", "kdatrd", "kinst"]
# Fields a converter sets from its own state, not from the data: not compared.
OWN = {"depmin", "depmax", "depmen", "scale", "idep", "lpspol", "lovrok", "lcalda", "iztype"}
# wavconv writes the first sample's time, to the nearest millisecond, as the reference time with
# b = 0; mseed2sac writes the millisecond below it and the rest in b: the two first-sample times
# are compared instead.
WHEN = {"b", "nzmsec", "e"}


def length(h):
    return h["e"] - h["b"]


def read_sac(path):
    data = open(path, "rb").read()
    order = "<" if struct.unpack("<i", data[304:308])[0] == 6 else ">"
    header = dict(zip(REALS, struct.unpack(order + "70f", data[:280])))
    header.update(zip(INTS, struct.unpack(order + "40i", data[280:440])))
    at = 440
    for name in TEXTS:
        length = 16 if name == "kevnm" else 8
        header[name] = data[at:at + length].decode("ascii", "replace").rstrip(" \0")
        at += length
    n = header["npts"]
    samples = struct.unpack(order + "%df" % n, data[632:632 + 4 * n])
    return header, samples


def undefined(value):
    return value in (-12345, -12345.0, "-12345")


def wfdisc_line(sta, chan, time, nsamp, rate, datatype, dfile, foff, calib=1.0):
    line = "%-6s %-8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6s %s %-2s %s " \
           "%-64s %-32s %10d %8d %-17s" % (
               sta, chan, time, -1, -1, 2001043, time + nsamp / rate, nsamp, rate, calib, 1.0,
               "STS-2", "o", datatype, "-", "-", dfile, foff, -1, "-")
    assert len(line) == 283, len(line)
    return line


def make_archive(work):
    rnd = random.Random(5)
    lines, blob = [], bytearray()

    def add(sta, chan, time, rate, values, datatype="i4"):
        fmt = {"i4": "<%di", "f4": "<%df"}[datatype]
        lines.append(wfdisc_line(sta, chan, time, len(values), rate, datatype, "data.w", len(blob)))
        blob.extend(struct.pack(fmt % len(values), *values))

    walk, v = [], 0
    for _ in range(360000):
        v = max(-16777216, min(16777216, v + rnd.randint(-2**18, 2**18)))
        walk.append(v)
    small = [rnd.randint(-16777216, 16777216) for _ in range(50000)]
    add("ABC", "BHZ", 981947229.12345, 100.0, walk)
    add("ABC", "BHN", 981947229.0, 20.0, small[:30000])
    add("ABC", "BHN", 981947229.0 + 1600, 20.0, small[30000:])  # a gap: its own file
    add("XYZ", "SHZ", 981950000.5, 3.0, [rnd.randint(-1000, 1000) for _ in range(7001)])
    add("XYZ", "SHE", 981950000.0, 40.0, [rnd.uniform(-1e5, 1e5) for _ in range(9000)], "f4")
    add("ONE", "LHZ", 981950000.0, 1.0, [42])
    open(os.path.join(work, "a.wfdisc"), "w").write("\n".join(lines) + "\n")
    open(os.path.join(work, "data.w"), "wb").write(blob)
    open(os.path.join(work, "a.site"), "w").write(
        "%-6s %8d %8d %9.4f %9.4f %9.4f %-50s\n" % ("ABC", 2001001, -1, 61.1, -149.7, 0.12,
                                                     "Station ABC"))
    open(os.path.join(work, "a.affiliation"), "w").write("IU       ABC    -\n")


def run(command, cwd):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("%s: status %d\n%s%s" % (" ".join(command), result.returncode, result.stdout,
                                          result.stderr))
    return result


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    wavconv = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="wavconv-readers-")
    try:
        make_archive(work)
        sac_dir = os.path.join(work, "sac")
        os.mkdir(sac_dir)
        run([wavconv, "a.wfdisc", "/R", "/Tsac", "/O" + sac_dir + "/", "--net", "XX", "--loc",
             "00"], work)
        ours = {os.path.basename(p)[:-4]: read_sac(p) for p in glob.glob(sac_dir + "/*.sac")}
        if len(ours) != 6:
            sys.exit("expected 6 SAC files, found %s" % sorted(ours))
        compared = 0
        for encoding in ("steim2", "steim1", "int32"):
            mseed_dir = os.path.join(work, encoding)
            os.mkdir(mseed_dir)
            run([wavconv, "a.wfdisc", "/R", "/Tmseed", "/O" + mseed_dir + "/", "--net", "XX",
                 "--loc", "00", "--encoding", encoding, "--reclen", "512"], work)
            for path in sorted(glob.glob(mseed_dir + "/*.mseed")):
                name = os.path.basename(path)[:-6]
                out = os.path.join(mseed_dir, name)
                os.mkdir(out)
                run(["mseed2sac", os.path.abspath(path)], out)
                converted = glob.glob(out + "/*.SAC")
                if len(converted) != 1:
                    sys.exit("%s: mseed2sac wrote %s" % (path, converted))
                theirs_header, theirs = read_sac(converted[0])
                our_header, our = ours[name]
                if list(theirs) != list(our):
                    sys.exit("%s (%s): samples differ from wavconv's SAC file" % (name, encoding))
                def first(h):
                    return h["nzmsec"] / 1000 + h["b"]
                if abs(first(theirs_header) - first(our_header)) > 0.0005:
                    sys.exit("%s (%s): the first sample's time differs" % (name, encoding))
                if abs(length(theirs_header) - length(our_header)) > 1e-6 * (1 + length(our_header)):
                    sys.exit("%s (%s): e - b differs" % (name, encoding))
                for field, value in theirs_header.items():
                    if field in OWN | WHEN or undefined(value) or undefined(our_header[field]):
                        continue
                    if value != our_header[field]:
                        sys.exit("%s (%s): %s is %r in mseed2sac's file, %r in wavconv's" %
                                 (name, encoding, field, value, our_header[field]))
                compared += 1
        print("mseed2sac: %d miniSEED files read, samples and shared header fields equal to "
              "wavconv's SAC files" % compared)
        back = os.path.join(work, "back")
        os.mkdir(back)
        for name, (_, samples) in sorted(ours.items()):
            # Floats that are not counts are packed as floats (-e 4), counts as Steim-2.
            floats = ["-e", "4"] if any(s != int(s) for s in samples) else []
            run(["sac2mseed"] + floats + ["-o", os.path.join(back, name + ".mseed"),
                 os.path.join(sac_dir, name + ".sac")], work)
            out = os.path.join(back, name)
            os.mkdir(out)
            run(["mseed2sac", os.path.join(back, name + ".mseed")], out)
            again = [s for p in sorted(glob.glob(out + "/*.SAC")) for s in read_sac(p)[1]]
            if again != list(samples):
                sys.exit("%s: sac2mseed's miniSEED does not hold wavconv's samples" % name)
        print("sac2mseed: %d SAC files read, samples kept" % len(ours))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
