// Hostile inputs, one row each (each its own test): what the run must print, its exit status,
// and that it leaves every existing file as it was and creates nothing but the named output.
// Every row starts from a good header hdr.wfdisc naming abc.w (3 samples), then applies its
// steps. Rows about permissions run the program as an unprivileged user when the tests run as
// root, who could read and write anything.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cctype>
#include <fstream>
#include <map>

#include "test_support.h"

namespace wavconv::testing {
namespace {

namespace fs = std::filesystem;

// A change to the starting files. Ops: 'p' write text b over the header from column a;
// 'w' write file a with bytes b; 'm' move a to b; 'd' make directory a; 'l' link a to b;
// 's' resize a to b bytes (sparse); '0' take every permission from a; 'r' make a read-only
// (readable by all);
// 'z' limit the files the run writes to a bytes. An argument "@/x" names x by its absolute path.
struct Step {
  char op;
  std::string a;
  std::string b = "";
};

struct Row {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::string> args;
  std::string out;  // standard output, exactly
  std::string err;  // how standard error begins; empty: nothing on it
  int status;
  std::string created;  // the file the run writes, if any
  bool unprivileged;    // run as a user without special rights
};

const std::string kDone = " \r\n";
const std::string kHeaderOpen =
    "Error opening CSS-header of input file\r\nStop - Program terminated.\r\n\r\n";
const std::string kHeaderRead =
    "Error reading CSS-header of input file\r\nStop - Program terminated.\r\n\r\n";
const std::string kOpenOutput = " Error opening output GSE file\r\n";
const std::string kQueryHeader =
    " Record n (STA CHAN): start nsamp samprate datatype foff path verdict\r\n";
const std::string kWriteOutput = " Error writing output GSE file\r\n";
const std::string kFatalOpen = "\r\nrun-time error F6416: OPEN(";
const std::vector<std::string> kArgs = {"hdr.wfdisc"};

std::string system_error(const std::string& path, const std::string& reason) {
  return "wavconv: " + path + ": " + reason + "\n";
}
std::string kNoFile(const std::string& path) {
  return system_error(path, "No such file or directory");
}

// clang-format off
const std::vector<Row> kRows = {
    {"header missing", {{'m', "hdr.wfdisc", "x"}}, kArgs, kHeaderOpen, kNoFile("hdr.wfdisc"), 1, "",
     false},
    {"header a directory", {{'m', "hdr.wfdisc", "x"}, {'d', "hdr.wfdisc"}}, kArgs, kHeaderOpen,
     system_error("hdr.wfdisc", "Is a directory"), 1, "", false},
    {"header unreadable", {{'0', "hdr.wfdisc"}}, kArgs, kHeaderOpen,
     system_error("hdr.wfdisc", "Permission denied"), 1, "", true},
    {"header empty", {{'w', "hdr.wfdisc", ""}}, kArgs, kHeaderRead, "", 1, "", false},
    {"header with letters in a number column", {{'p', "80", "  abcdef"}}, kArgs, kHeaderRead, "",
     1, "", false},
    {"header binary garbage", {{'w', "hdr.wfdisc", std::string("\x7f\x01\xfeZZ\0\0", 7) +
                                                       std::string(400, '\x9c')}},
     kArgs, kHeaderRead, "", 1, "", false},
    {"header one 10 MB line", {{'p', "284", std::string(10 << 20, 'x')}}, kArgs, kDone, "", 0,
     "abc_043.gse", false},
    {"header with NUL in dfile", {{'p', "216", std::string(1, '\0')}, {'m', "abc.w", "ab"}},
     kArgs, kDone, "", 0, "ab_043.gse", false},
    {"header with CR-only line ends", {{'p', "284", "\r" + Header().line() + "\r"}}, kArgs, kDone,
     "", 0, "abc_043.gse", false},
    {"dfile with shell metacharacters",
     {{'p', "214", "a;b|c$(touch_x)`id`&.w"}, {'m', "abc.w", "a;b|c$(touch_x)`id`&.w"}}, kArgs,
     kDone, "", 0, "a;b|c$(touch_x)`id`&_043.gse", false},
    {"dir with shell metacharacters", {{'p', "149", "$(mkdir_x);|&`id`/"}}, kArgs, "",
     kNoFile("$(mkdir_x);|&`id`/abc.w") + kFatalOpen + "$(mkdir_x);|&`id`/abc.w)", 1, "", false},
    {"sample file a directory", {{'m', "abc.w", "x"}, {'d', "abc.w"}}, kArgs, "",
     system_error("abc.w", "Is a directory") + kFatalOpen + "abc.w)", 1, "", false},
    {"sample file unreadable", {{'0', "abc.w"}}, kArgs, "",
     system_error("abc.w", "Permission denied") + kFatalOpen + "abc.w)", 1, "", true},
    {"sample file missing, samprate 0", {{'m', "abc.w", "x"}, {'p', "89", "   0.000000"}}, kArgs,
     "", kNoFile("abc.w") + kFatalOpen + "abc.w)", 1, "", false},
    {"sample file empty", {{'w', "abc.w", ""}}, kArgs, kDone, "", 0, "abc_043.gse", false},
    {"sample file of 3 bytes", {{'w', "abc.w", "abc"}}, kArgs, kDone, "", 0, "abc_043.gse", false},
    {"sample file huge and sparse", {{'s', "abc.w", "400000000"}}, kArgs,
     " Sample file too large for one GSE block\r\n", "", 1, "", false},
    {"option value not a number", {}, {"hdr.wfdisc", "/Jabc"}, "",
     "\r\nrun-time error F6502: READ(internal)\r\n- ", 1, "", false},
    {"names with blanks", {}, {"hdr.wfdisc trailing", "out put.gse"}, kDone, "", 0, "out", false},
    {"empty header name", {}, {""}, kHeaderOpen, kNoFile(""), 1, "", false},
    {"empty output name", {}, {"hdr.wfdisc", ""}, kOpenOutput, kNoFile(""), 1, "", false},
    {"control characters in a name", {}, {"h\x1b[2J\x7f.wfdisc"}, kHeaderOpen,
     kNoFile("h?[2J?.wfdisc"), 1, "", false},
    {"absolute paths after --", {}, {"--", "@/hdr.wfdisc", "@/out.gse"}, kDone, "", 0, "out.gse",
     false},
    {"an option in GNU style", {}, {"hdr.wfdisc", "-o", "out.gse", "/x"}, "",
     "wavconv: ignored option /x: no such option\n"
     "wavconv: unknown option -o: options are /J /L /I /O /R /F /Q /S /T /M /P; see --help\n", 1, "", false},
    {"empty output name after an output directory", {}, {"hdr.wfdisc", "", "/Oout.gse"}, kDone,
     "", 0, "out.gse", false},
    {"output into a missing directory", {}, {"hdr.wfdisc", "/Onone/"}, kOpenOutput,
     kNoFile("none/abc_043.gse"), 1, "", false},
    {"output onto a directory", {{'d', "out.gse"}}, {"hdr.wfdisc", "out.gse"}, kOpenOutput,
     system_error("out.gse", "Is a directory"), 1, "", false},
    {"output onto the header through a link", {{'l', "link.gse", "hdr.wfdisc"}},
     {"hdr.wfdisc", "link.gse"}, kOpenOutput,
     "wavconv: link.gse: is the header file, not replaced\n", 1, "", false},
    {"output onto the samples under another spelling", {{'d', "sub"}},
     {"hdr.wfdisc", "./sub/../abc.w"}, kOpenOutput,
     "wavconv: ./sub/../abc.w: is the sample file, not replaced\n", 1, "", false},
    {"output onto a read-only file", {{'w', "out.gse", "WID1 keep"}, {'r', "out.gse"}},
     {"hdr.wfdisc", "out.gse"}, kWriteOutput, system_error("out.gse", "Permission denied"), 1, "",
     true},
    {"output onto a full device", {}, {"hdr.wfdisc", "full", "/O/dev/"}, kWriteOutput,
     system_error("/dev/full", "No space left on device"), 1, "", false},
    {"output over the file size limit keeps the old file",
     {{'w', "out.gse", "WID1 keep"}, {'w', "abc.w", std::string(40000, '\1')}, {'z', "8192"}},
     {"hdr.wfdisc", "out.gse"}, kWriteOutput, system_error("out.gse", "File too large"), 1, "",
     false},
    {"record mode: record beyond the last", {}, {"/R2", "hdr.wfdisc"},
     " Error: no record 2 in the header file\r\n", "", 1, "", false},
    {"record mode: record number not a number", {}, {"/Rx", "hdr.wfdisc"}, "",
     "\r\nrun-time error F6502: READ(internal)\r\n- option /Rx does not give a record number",
     1, "", false},
    {"record mode: header of blank lines", {{'w', "hdr.wfdisc", "  \n\n"}}, {"/R", "hdr.wfdisc"},
     kHeaderRead, "", 1, "", false},
    {"record mode: two records onto one name", {{'p', "284", "\n" + Header().line()}},
     {"/R", "hdr.wfdisc"}, " Record 2 (ABC BHZ): output ABC_BHZ_2001043_030709.gse was written "
     "by this run\r\n Error: 1 of 2 records not converted\r\n\r\n",
     "wavconv: 1 of 2 records converted, 1 refused; ", 1, "ABC_BHZ_2001043_030709.gse", false},
    {"record mode: no record converts, no file", {{'m', "abc.w", "x"}, {'w', "out.gse", "keep"}},
     {"/R", "hdr.wfdisc", "out.gse"}, " Record 1 (ABC BHZ): sample file abc.w cannot be opened: "
     "No such file or directory\r\n Error: 1 of 1 records not converted\r\n\r\n", kNoFile("abc.w"),
     1, "", false},
    {"record mode: output names a sample file", {}, {"/R", "hdr.wfdisc", "abc.w"}, kOpenOutput,
     "wavconv: abc.w: is the header or a sample file, not replaced\n", 1, "", false},
    {"record mode: null time, zero samprate, negative foff, no dfile",
     {{'p', "284", "\n" + Header().line() + "\n" + Header().line() + "\n" + Header().line()},
      {'p', "17", "-9999999999.00000"}, {'p', "373", "  0.0000000"}, {'p', "823", "-1"},
      {'p', "1066", "-   "}}, {"/R", "/Q", "hdr.wfdisc"},
     " Record n (STA CHAN): start nsamp samprate datatype foff path verdict\r\n"
     " Record 1 (ABC BHZ): 1653-02-10 06:13:21.000 0 20 i4 0 abc.w time is the null value\r\n"
     " Record 2 (ABC BHZ): 2001-02-12 03:07:09.000 0 0 i4 0 abc.w samprate is not above 0\r\n"
     " Record 3 (ABC BHZ): 2001-02-12 03:07:09.000 0 20 i4 -1 abc.w foff is negative\r\n"
     " Record 4 (ABC BHZ): 2001-02-12 03:07:09.000 0 20 i4 0 - no dfile\r\n"
     " Error: 4 of 4 records cannot be converted\r\n\r\n", "", 1, "", false},
    {"a glob of headers replaces none of them",
     {{'w', "b.wfdisc", Header().line()}, {'w', "c.wfdisc", Header().line()}},
     {"hdr.wfdisc", "b.wfdisc", "c.wfdisc"}, kOpenOutput,
     "wavconv: ignored name c.wfdisc: only InHFile and OutFile are read\n"
     "wavconv: use /M to convert every header\n"
     "wavconv: b.wfdisc: not a GSE file, not replaced\n", 1, "", false},
    {"dfile with a path writes into the output directory",
     {{'d', "sub"}, {'m', "abc.w", "sub/abc.w"}, {'p', "214", "sub/abc.w"}}, kArgs, kDone, "", 0,
     "abc_043.gse", false},
    {"a path taken for an option", {}, {"hdr.wfdisc", "/data/gse/out.gse"}, "",
     "wavconv: /data/gse/out.gse: a path, not an option; absolute paths go after --\n", 1, "",
     false},
    {"a path whose second letter is an option's", {{'w', "out.gse", "WID1 keep"}},
     {"hdr.wfdisc", "/scratch/gse/out.gse", "/run/x.gse", "/Tcm6"}, "",
     "wavconv: /scratch/gse/out.gse: a path, not an option; absolute paths go after --\n"
     "wavconv: /run/x.gse: a path, not an option; absolute paths go after --\n", 1, "", false},
    {"a path and no name: the usage screen says why", {}, {"/data/css/hdr.wfdisc"}, "@usage",
     "wavconv: /data/css/hdr.wfdisc: a path, not an option; absolute paths go after --\n", 1, "",
     false},
    {"a dry run without record mode", {{'w', "out.gse", "WID1 keep"}},
     {"/Q", "hdr.wfdisc", "out.gse"}, "", "wavconv: /Q needs /R (record mode)\n", 1, "", false},
    {"scaling without record mode", {}, {"hdr.wfdisc", "/s"}, "",
     "wavconv: /S needs /R (record mode)\n", 1, "", false},
    {"rounding without record mode, also under /M", {}, {"/M", "/F", "hdr.wfdisc"}, "",
     "wavconv: /F needs /R (record mode)\n", 1, "", false},
    {"threads without /M or /R", {}, {"/P2", "hdr.wfdisc"}, "",
     "wavconv: /P needs /M (many headers) or /R (record mode)\n", 1, "", false},
    {"a format without its value", {}, {"hdr.wfdisc", "/T", "cm6"}, "",
     "wavconv: /T has no value: write /Tcm6\n", 1, "", false},
    {"a length of three digits without its value", {}, {"hdr.wfdisc", "/L", "600"}, "",
     "wavconv: /L has no value: write /L600\n", 1, "", false},
    {"an ignored option reported before a value that does not read", {},
     {"hdr.wfdisc", "/X5", "/Jabc"}, "", "wavconv: ignored option /X5: no such option\n"
     "\r\nrun-time error F6502: READ(internal)\r\n- ", 1, "", false},
    {"default run: a samprate WID2 shows as 0", {{'p', "89", "  0.0000001"}},
     {"hdr.wfdisc", "/Tcm6"}, " Error: samprate 1e-07 shows as 0.000000 in WID2, not above 0\r\n",
     "", 1, "", false},
    {"default run: a negative samprate in WID2", {{'p', "89", "-20.0000000"}},
     {"hdr.wfdisc", "/Tint"}, " Error: samprate -20 shows as -20.000000 in WID2, not above 0\r\n",
     "", 1, "", false},
    {"record mode: a samprate WID2 shows as 0", {{'p', "89", "  0.0000001"}},
     {"/R", "/Tims", "hdr.wfdisc"}, " Record 1 (ABC BHZ): samprate 1e-07 shows as 0.000000 in "
     "WID2, not above 0\r\n Error: 1 of 1 records not converted\r\n\r\n", "", 1, "", false},
    {"record mode: a record past 2 GiB of its sample file",
     {{'s', "abc.w", "4000000000"}, {'p', "80", "       3"}, {'p', "247", "3000000000"}},
     {"/R", "hdr.wfdisc"}, kDone, "", 0, "ABC_BHZ_2001043_030709.gse", false},
    {"record mode: an foff of ten digits past the file's end", {{'p', "247", "9999999999"}},
     {"/R", "/Q", "hdr.wfdisc"}, kQueryHeader +
     " Record 1 (ABC BHZ): 2001-02-12 03:07:09.000 0 20 i4 9999999999 abc.w sample file abc.w "
     "holds 12 bytes, fewer than foff + nsamp x 4 = 9999999999\r\n"
     " Error: 1 of 1 records cannot be converted\r\n\r\n", "", 1, "", false},
    {"record mode: /S never writes a velocity of nanometres as zeros",
     {{'p', "144", "f4"}, {'w', "abc.w", "\x8f\x28\x4e\x31\x5f\x70\x09\xb1\x77\xcc\x2b\x31"}},
     {"/R", "/S", "hdr.wfdisc"}, " Record 1 (ABC BHZ): samples scale to at most 0 counts (by 1e6, "
     "the most its calib field allows): fewer than 3 significant digits; /Tcm6, /Tint, /Tims "
     "would keep them\r\n Error: 1 of 1 records not converted\r\n\r\n", "", 1, "", false},
    {"record mode: /S keeps a velocity of nanometres in CM6",
     {{'p', "144", "f4"}, {'w', "abc.w", "\x8f\x28\x4e\x31\x5f\x70\x09\xb1\x77\xcc\x2b\x31"}},
     {"/R", "/S", "/Tcm6", "hdr.wfdisc", "out.gse"}, " Record 1 (ABC BHZ): scaled by 1e12, calib 1 "
     "-> 1e-12, at most 5.65639e-05 count rounded\r\n \r\n\r\n", "", 0, "out.gse", false},
    {"record mode: a station table with a line of binary junk is refused whole",
     {{'w', "hdr.site", std::string(4096, '\0')}}, {"/R", "hdr.wfdisc"},
     " Error: a station table was refused; the records converted without it\r\n",
     "wavconv: hdr.site: line 1 is longer than 1024 bytes, table ignored\n", 1,
     "ABC_BHZ_2001043_030709.gse", false},
    {"a header line of one word", {{'w', "hdr.wfdisc", "ABC"}}, kArgs, "",
     "\r\nrun-time error F6416: OPEN()\r\n- the header names no sample file: dfile (columns "
     "214-245) is blank\r\n", 1, "", false},
    {"record mode: blanks and commas inside numbers are refused",
     {{'p', "284", "\n" + Header().line() + "\n" + Header().line() + "\n" + Header().line()},
      {'p', "89", "      1 000"}, {'p', "373", "        2,5"}, {'p', "585", "      9 8 1947229"},
      {'p', "941", "        2 0"}}, {"/R", "/Q", "hdr.wfdisc"}, kQueryHeader +
     " Record 1 (ABC BHZ): 2001-02-12 03:07:09.000 0 0 - 0  samprate (columns 89-99) does not "
     "read: \"1 000\"\r\n"
     " Record 2 (ABC BHZ): 2001-02-12 03:07:09.000 0 0 - 0  samprate (columns 89-99) does not "
     "read: \"2,5\"\r\n"
     " Record 3 (ABC BHZ): 1970-01-01 00:00:00.000 0 0 - 0  time (columns 17-33) does not read: "
     "\"9 8 1947229\"\r\n"
     " Record 4 (ABC BHZ): 2001-02-12 03:07:09.000 0 0 - 0  samprate (columns 89-99) does not "
     "read: \"2 0\"\r\n"
     " Error: 4 of 4 records cannot be converted\r\n\r\n", "", 1, "", false},
    {"a length without its value", {}, {"hdr.wfdisc", "/J", "60"}, "",
     "wavconv: /J has no value: write /J60\n", 1, "", false},
    {"an output name of 250 characters", {}, {"hdr.wfdisc", std::string(246, 'n') + ".gse"},
     kDone, "", 0, std::string(246, 'n') + ".gse", false},
    {"record mode: a station beginning with a dot", {{'p', "1", ".BC"}}, {"/R", "hdr.wfdisc"},
     kDone, "", 0, "_BC_BHZ_2001043_030709.gse", false},
    {"record mode: a per-record output that is not a GSE file",
     {{'w', "ABC_BHZ_2001043_030709.gse", "keep"}}, {"/R", "hdr.wfdisc"},
     " Record 1 (ABC BHZ): output ABC_BHZ_2001043_030709.gse: not a GSE file, not replaced\r\n"
     " Error: 1 of 1 records not converted\r\n\r\n", "", 1, "", false},
    {"record mode: the one output is not a GSE file", {{'w', "out.gse", "keep"}},
     {"/R", "hdr.wfdisc", "out.gse"}, kOpenOutput,
     "wavconv: out.gse: not a GSE file, not replaced\n", 1, "", false},
    {"a device as header", {}, {"--", "/dev/zero"}, kHeaderOpen,
     "wavconv: /dev/zero: not a regular file\n", 1, "", false},
    {"record mode: a device as header", {}, {"/R", "--", "/dev/urandom"}, kHeaderOpen,
     "wavconv: /dev/urandom: not a regular file\n", 1, "", false},
    {"record mode: numbers without a decimal point read as written",
     {{'p', "17", "        981947229"}, {'p', "89", "         20"}}, {"/R", "hdr.wfdisc"}, kDone, "",
     0, "ABC_BHZ_2001043_030709.gse", false},
    {"record mode: a field that does not read is named", {{'p', "89", "       2O.0"}},
     {"/R", "hdr.wfdisc"}, " Record 1 (ABC BHZ): samprate (columns 89-99) does not read: "
     "\"2O.0\"\r\n Error: 1 of 1 records not converted\r\n\r\n", "", 1, "", false},
    {"record mode: a huge samprate to the end", {{'p', "89", " 9.00000E10"}},
     {"/R", "hdr.wfdisc"}, kDone, "", 0, "ABC_BHZ_2001043_030709.gse", false},
    {"record mode: the plain file is read when a gzipped one is beside it",
     {{'w', "abc.w.gz", "not gzip data"}}, {"/R", "hdr.wfdisc"}, kDone, "", 0,
     "ABC_BHZ_2001043_030709.gse", false},
    {"record mode: the rounding figure is a magnitude",
     {{'p', "144", "f4"}, {'w', "abc.w", std::string("\x9a\x99\x19\x40\0\0\x80\x3f\0\0\x40\xc0", 12)}},
     {"/R", "/F", "hdr.wfdisc"}, " Record 1 (ABC BHZ): 1 samples rounded, at most 0.4\r\n \r\n\r\n",
     "", 0, "ABC_BHZ_2001043_030709.gse", false},
    {"record mode: a per-record output that would replace a sample file",
     {{'p', "214", "ABC_BHZ_2001043_030709.gse"}, {'p', "144", "i2"},
      {'w', "ABC_BHZ_2001043_030709.gse", "WID1xx"}}, {"/R", "hdr.wfdisc"},
     " Record 1 (ABC BHZ): output ABC_BHZ_2001043_030709.gse would replace an input\r\n"
     " Error: 1 of 1 records not converted\r\n\r\n", "", 1, "", false},
    {"record mode: a per-record output linked to one this run wrote",
     {{'p', "284", "\n" + Header().line()}, {'p', "285", "XYZ"},
      {'l', "XYZ_BHZ_2001043_030709.gse", "ABC_BHZ_2001043_030709.gse"}}, {"/R", "hdr.wfdisc"},
     " Record 2 (XYZ BHZ): output XYZ_BHZ_2001043_030709.gse was written by this run\r\n"
     " Error: 1 of 2 records not converted\r\n\r\n",
     "wavconv: 1 of 2 records converted, 1 refused; ", 1, "ABC_BHZ_2001043_030709.gse", false},
    {"record mode: an empty output name", {}, {"/R", "hdr.wfdisc", " x.gse"}, kOpenOutput,
     kNoFile(""), 1, "", false},
    {"record listing: a name this run would write twice",
     {{'p', "284", "\n" + Header().line()}}, {"/R", "/Q", "hdr.wfdisc"},
     " Record n (STA CHAN): start nsamp samprate datatype foff path verdict\r\n"
     " Record 1 (ABC BHZ): 2001-02-12 03:07:09.000 3 20 i4 0 abc.w ok\r\n"
     " Record 2 (ABC BHZ): 2001-02-12 03:07:09.000 3 20 i4 0 abc.w output "
     "ABC_BHZ_2001043_030709.gse was written by this run\r\n"
     " Error: 1 of 2 records cannot be converted\r\n\r\n", "", 1, "", false},
    {"record listing: an output that is not a GSE file", {{'w', "out.gse", "keep"}},
     {"/R", "/Q", "hdr.wfdisc", "out.gse"}, kQueryHeader + kOpenOutput + "\r\n",
     "wavconv: out.gse: not a GSE file, not replaced\n", 1, "", false},
    {"record listing: an empty output name", {}, {"/R", "/Q", "hdr.wfdisc", ""}, kQueryHeader + kOpenOutput + "\r\n",
     kNoFile(""), 1, "", false},
    {"record listing: control characters of a station", {{'p', "1", "A\x1b[2J"}},
     {"/R", "/Q", "hdr.wfdisc"},
     " Record n (STA CHAN): start nsamp samprate datatype foff path verdict\r\n"
     " Record 1 (A?[2J BHZ): 2001-02-12 03:07:09.000 3 20 i4 0 abc.w ok\r\n \r\n\r\n", "", 0, "",
     false},
    {"calib and calper overflow their fields",
     {{'p', "101", "100000000.000000"}, {'p', "118", "100000000.000000"}}, kArgs, kDone, "", 0,
     "abc_043.gse", false},
};

// clang-format on

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

void apply(const TempDir& dir, const Step& step, long& file_size_limit) {
  // clang-format off
  switch (step.op) {
    case 'p': {
      std::string line = dir.read("hdr.wfdisc");
      line.resize(std::max(line.size(), std::stoul(step.a) - 1 + step.b.size()), ' ');
      dir.write("hdr.wfdisc", line.replace(std::stoul(step.a) - 1, step.b.size(), step.b));
      break;
    }
    case 'w': dir.write(step.a, step.b); break;
    case 'm': fs::rename(dir.file(step.a), dir.file(step.b)); break;
    case 'd': fs::create_directory(dir.file(step.a)); break;
    case 'l': fs::create_symlink(step.b, dir.file(step.a)); break;
    case 's': fs::resize_file(dir.file(step.a), std::stoull(step.b)); break;
    case '0': fs::permissions(dir.file(step.a), fs::perms::none); break;
    case 'r': fs::permissions(dir.file(step.a), fs::perms::owner_read | fs::perms::group_read |
                                                fs::perms::others_read); break;
    case 'z': file_size_limit = std::stol(step.a); break;
  }
  // clang-format on
}

class HostileInput : public ::testing::TestWithParam<Row> {};

TEST_P(HostileInput, EndsAsRequiredAndLeavesOtherFilesAlone) {
  const Row& row = GetParam();
  TempDir dir;
  dir.write("hdr.wfdisc", Header().line());
  dir.write("abc.w", sample_bytes({1, -2, 3}));
  long file_size_limit = 0;
  for (const Step& step : row.steps) apply(dir, step, file_size_limit);
  std::vector<std::string> args = row.args;
  for (std::string& arg : args) {
    if (arg.rfind("@/", 0) == 0) arg = dir.file(arg.substr(2));
  }
  std::map<std::string, std::string> before = snapshot(dir.path());
  RunResult result = run_binary(dir.path(), args, {row.unprivileged, file_size_limit});
  if (row.out == "@usage") {
    EXPECT_EQ(result.out.substr(0, 20), "\r\nWAVCONV v2.1  -  C");
  } else {
    EXPECT_EQ(result.out, row.out);
  }
  EXPECT_EQ(result.err.substr(0, row.err.size()), row.err);
  EXPECT_EQ(result.err.empty(), row.err.empty());
  EXPECT_EQ(result.status, row.status);
  std::map<std::string, std::string> after = snapshot(dir.path());
  if (!row.created.empty()) {
    std::string head = after[row.created].substr(0, 4);
    EXPECT_TRUE(head == "WID1" || head == "WID2") << head;
    after.erase(row.created);
  }
  EXPECT_EQ(after, before);
}

// The row's name as a test name: every character but letters and digits made "_".
std::string test_name(const ::testing::TestParamInfo<Row>& info) {
  std::string name = info.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileInput, ::testing::ValuesIn(kRows), test_name);

// The first sample's time comes from the samprate as read (39.9999, not the 39.9999008 of a
// 32-bit real): 3,455,991 samples after the start it is 08.991, not 08.989, in record mode's
// WID1 and in every WID2; the default run's GSE1.0 block keeps its whole second and window.
TEST(Readers, TimesFromTheSamprateAsRead) {
  TempDir dir;
  Header header;
  header.samprate = 39.9999;
  header.dfile = "big.w";
  dir.write("hdr.wfdisc", header.line());
  dir.write("big.w", "");
  fs::resize_file(dir.file("big.w"), 13'824'000);  // 3,456,000 samples of 0
  struct Case {
    std::vector<std::string> args;
    std::string first_line;
  } cases[] = {
      {{"/R", "/J86400", "hdr.wfdisc", "out.gse"},
       "WID1  2001044  3  7  8 991        9 ABC    BHZ      BZ  39.9999000 STS-2  INT8 0"},
      {{"/J86400", "hdr.wfdisc", "out.gse"},
       "WID1  2001044  3  7  9   0        9 ABC    BHZ      BZ  39.9999000 STS-2  INT8 0"},
      {{"/J86400", "/Tint", "hdr.wfdisc", "out.gse"},
       "WID2 2001/02/13 03:07:08.991 ABC   BHZ      INT        9   39.999900"},
      {{"/R", "/J86400", "/Tcm6", "hdr.wfdisc", "out.gse"},
       "WID2 2001/02/13 03:07:08.991 ABC   BHZ      CM6        9   39.999900"},
      // 5000 s are 199,999.5 samples at 39.9999 and 200,000.4 at 39.9999008: the default run
      // keeps its window from the 32-bit samprate in every format, record mode reads as written.
      {{"/J5000", "hdr.wfdisc", "out.gse"},
       "WID1  2001043  4 30 29   0  3256000 ABC    BHZ      BZ  39.9999000 STS-2  INT8 0"},
      {{"/J5000", "/Tint", "hdr.wfdisc", "out.gse"},
       "WID2 2001/02/12 04:30:29.013 ABC   BHZ      INT  3256000   39.999900"},
      {{"/R", "/J5000", "hdr.wfdisc", "out.gse"},
       "WID1  2001043  4 30 28 988  3256001 ABC    BHZ      BZ  39.9999000 STS-2  INT8 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[2]);
    ASSERT_EQ(run_binary(dir.path(), c.args).status, 0);
    std::string text = dir.read("out.gse");
    EXPECT_EQ(text.substr(0, c.first_line.size()), c.first_line);
  }
}

// --version wins over everything else, and names the data-line kernel and the formats this
// build writes; its lines end with LF.
TEST(Version, NamesTheKernelAndTheFormats) {
  TempDir dir;
  RunResult result = run_binary(dir.path(), {"hdr.wfdisc", "-o", "--version"});
  EXPECT_EQ(result.status, 0);
  const std::string formats = "formats: gse1 cm6 int ims mseed sac\n";
  EXPECT_TRUE(result.out == "wavconv " WAVCONV_VERSION " (avx2)\n" + formats ||
              result.out == "wavconv " WAVCONV_VERSION " (scalar)\n" + formats)
      << result.out;
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace wavconv::testing

namespace wavconv::testing {
namespace {

// A gzip file of `zeros` zero bytes and then `tail`, made quickly: one piece of compressed
// zeros, flushed to a byte edge and free of history, repeated.
std::string gzipped_zeros(std::int64_t zeros, const std::string& tail) {
  constexpr std::size_t kPiece = 16 << 20;
  auto raw = [](const std::string& bytes, int flush) { return deflated(bytes, -15, 1, flush); };
  const std::string zero_piece(kPiece, '\0');
  const std::string piece = raw(zero_piece, Z_FULL_FLUSH);
  std::string file("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
  uLong crc = crc32(0, nullptr, 0);
  const uLong piece_crc = crc32(0, reinterpret_cast<const Bytef*>(zero_piece.data()), kPiece);
  for (std::int64_t i = 0; i < zeros / static_cast<std::int64_t>(kPiece); ++i) {
    file += piece;
    crc = crc32_combine(crc, piece_crc, kPiece);
  }
  std::string rest(static_cast<std::size_t>(zeros % kPiece), '\0');
  rest += tail;
  file += raw(rest, Z_FINISH);
  crc = crc32_combine(
      crc, crc32(0, reinterpret_cast<const Bytef*>(rest.data()), static_cast<uInt>(rest.size())),
      static_cast<z_off_t>(rest.size()));
  const std::uint64_t total = static_cast<std::uint64_t>(zeros) + tail.size();
  for (std::uint64_t value : {static_cast<std::uint64_t>(crc), total}) {
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
  }
  return file;
}

// A record 3,000,000,000 bytes into its sample file, plain (sparse) or gzipped, converts.
TEST(Readers, RecordsPastTwoGibibytesPlainAndGzipped) {
  TempDir dir;
  Header header;
  header.nsamp = 2;
  header.foff = 0;
  std::string line = header.line();
  line.replace(246, 10, "3000000000");
  dir.write("hdr.wfdisc", line);
  dir.write("abc.w.gz", gzipped_zeros(3'000'000'000, sample_bytes({7, -8})));
  ASSERT_EQ(run_binary(dir.path(), {"/R", "hdr.wfdisc", "gz.gse"}).status, 0);
  fs::remove(dir.file("abc.w.gz"));
  dir.write("abc.w", "");
  fs::resize_file(dir.file("abc.w"), 3'000'000'000);
  {
    std::ofstream append(dir.file("abc.w"), std::ios::app | std::ios::binary);
    append << sample_bytes({7, -8});
  }
  ASSERT_EQ(run_binary(dir.path(), {"/R", "hdr.wfdisc", "plain.gse"}).status, 0);
  for (const char* output : {"gz.gse", "plain.gse"}) {
    SCOPED_TRACE(output);
    EXPECT_NE(dir.read(output).find("\r\nDAT1" + std::string(76, ' ') + "\r\n       7      -8\r\n"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace wavconv::testing
