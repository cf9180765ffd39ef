// A station's identity as written (--rename, --net, --loc, the affiliation table), and whole runs
// into miniSEED and SAC: names, networks, float records kept, one trace a SAC file, the output
// options read or refused.
#include "driver/identity.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sac_reader.h"
#include "test_support.h"
#ifdef WAVCONV_MSEED
#include "mseed_reader.h"
#endif

namespace wavconv::testing {
namespace {

using driver::Rename;

TEST(Identity, RenamesReadAndApplied) {
  std::vector<Rename> renames;
  ASSERT_FALSE(driver::read_renames("ABC=ABD,TESTbe=TESTB, ABC.BHZ=XYZ.HHZ", renames));
  ASSERT_EQ(renames.size(), 3u);
  using Names = std::pair<std::string, std::string>;
  EXPECT_EQ(driver::renamed(renames, "TESTbe", "BHZ     "), Names("TESTB ", "BHZ     "));
  // A channel's pair wins over its station's, wherever it is in the list.
  EXPECT_EQ(driver::renamed(renames, "ABC   ", "BHZ"), Names("XYZ   ", "HHZ     "));
  EXPECT_EQ(driver::renamed(renames, "ABC", "BHN"), Names("ABD   ", "BHN     "));
  EXPECT_EQ(driver::renamed(renames, "ABCD", "BHZ"), Names("ABCD  ", "BHZ     "));

  const std::pair<const char*, const char*> wrong[] = {
      {"", "--rename : no OLD=NEW pair in the list"},
      {"ABC", "--rename ABC: ABC is not OLD=NEW"},
      {"ABC=", "--rename ABC=: an empty name"},
      {"ABC.=XYZ.", "--rename ABC.=XYZ.: an empty name"},
      {"ABC=ABCDEFG", "--rename ABC=ABCDEFG: ABCDEFG is longer than 6 characters"},
      {"ABC.BHZ=XYZ",
       "--rename ABC.BHZ=XYZ: ABC.BHZ=XYZ renames a channel on one side only "
       "(OLD.CHAN=NEW.CH)"},
      {"A B=C", "--rename A B=C: A B holds a blank or a character not printable"},
  };
  for (const auto& [list, why] : wrong) {
    std::vector<Rename> none;
    EXPECT_EQ(driver::read_renames(list, none).value_or("read"), why);
  }
  EXPECT_EQ(driver::check_code("--net", "ABCDEFGHI").value_or(""),
            "--net ABCDEFGHI: ABCDEFGHI is longer than 8 characters");

  driver::Identity identity;
  identity.renames = renames;
  common::Trace trace = example_trace();
  driver::apply_identity(identity, "ABC", "BHZ", "IM", trace);
  EXPECT_EQ(trace.sta + trace.chan + trace.net, "XYZ   HHZ     IM");
  identity.net = "XX";  // --net wins over the table
  identity.loc = "00";
  driver::apply_identity(identity, "ABC", "BHZ", "IM", trace);
  EXPECT_EQ(trace.net + trace.loc, "XX00");
}

// An archive of three records: ABC BHZ (i4), TESTbe BHZ (i4, a six-character station) and ABC
// BHN (f4 floats that are not whole), with an affiliation table naming ABC's network.
void write_archive(const TempDir& dir) {
  Header abc, six, floats;
  abc.nsamp = 100;
  six.sta = "TESTbe";
  six.nsamp = 100;
  six.foff = 400;
  floats.chan = "BHN";
  floats.datatype = "f4";
  floats.dfile = "f.w";
  floats.nsamp = 4;
  dir.write("a.wfdisc", abc.line() + "\n" + six.line() + "\n" + floats.line() + "\n");
  std::vector<int> samples = counting(-50, 100), more = counting(1000, 100);
  samples.insert(samples.end(), more.begin(), more.end());
  dir.write("abc.w", sample_bytes(samples));
  std::string f;
  for (float v : {0.25f, -1.5e-9f, 3.0e20f, 7.0f}) f.append(reinterpret_cast<const char*>(&v), 4);
  dir.write("f.w", f);
  dir.write("a.affiliation",
            "IU       ABC    2001-01-01 00:00:00\n"
            "II       ABC    2001-01-01 00:00:00\n");
}

TEST(IdentityRun, NetworkFromTheTableOrNetAndRenamedStationsInSta2) {
  TempDir dir;
  write_archive(dir);
  RunResult plain = run_binary(dir.path(), {"a.wfdisc", "/R", "/Tcm6"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.out.find(" Record 2 (TESTbe BHZ): station TESTbe is longer than 5 characters"),
            std::string::npos);
  std::string sta2 = dir.read("ABC_BHZ_2001043_030709.gse");
  EXPECT_NE(sta2.find("\nSTA2 IU       "), std::string::npos) << sta2.substr(0, 300);

  RunResult renamed =
      run_binary(dir.path(), {"a.wfdisc", "/R2", "/Tcm6", "--rename", "TESTbe=TESTB", "--net=XX"});
  EXPECT_EQ(renamed.status, 0) << renamed.out << renamed.err;
  std::string text = dir.read("TESTB_BHZ_2001043_030709.gse");
  EXPECT_EQ(text.substr(0, 40), "WID2 2001/02/12 03:07:09.000 TESTB BHZ  ");
  EXPECT_NE(text.find("\nSTA2 XX       "), std::string::npos);

  RunResult query = run_binary(dir.path(), {"a.wfdisc", "/R", "/Q", "--rename=TESTbe=TESTB"});
  EXPECT_NE(query.out.find(" Record 2 (TESTbe BHZ as TESTB BHZ): "), std::string::npos)
      << query.out;
  EXPECT_NE(query.out.find(" Record 1 (ABC BHZ): "), std::string::npos);
}

TEST(IdentityRun, SacFilesOfCountsAndFloatsOneTraceAFile) {
  TempDir dir;
  write_archive(dir);
  const auto before = snapshot(dir.path());
  RunResult many = run_binary(dir.path(), {"a.wfdisc", "out.sac", "/R", "/Tsac"});
  EXPECT_EQ(many.status, 1);
  EXPECT_EQ(many.err,
            "wavconv: /Tsac writes one trace a file: the output would hold 3 records; choose one "
            "(/Rn, --sta, --chan) or leave out OutFile for a file each\n");
  EXPECT_EQ(snapshot(dir.path()), before);  // nothing written

  RunResult each = run_binary(dir.path(), {"a.wfdisc", "/R", "/Tsac", "--loc", "10"});
  EXPECT_EQ(each.status, 0);  // SAC holds stations of 8 characters: TESTbe too
  EXPECT_TRUE(read_sac(dir.read("TESTbe_BHZ_2001043_030709.sac")).ok);
  SacFile counts = read_sac(dir.read("ABC_BHZ_2001043_030709.sac"));
  ASSERT_TRUE(counts.ok);
  EXPECT_EQ(counts.data.size(), 100u);
  EXPECT_EQ(counts.data.front(), -50.0f);
  EXPECT_EQ(counts.texts["knetwk"], "IU");
  EXPECT_EQ(counts.texts["khole"], "10");
  SacFile floats = read_sac(dir.read("ABC_BHN_2001043_030709.sac"));
  ASSERT_TRUE(floats.ok);
  EXPECT_EQ(floats.data, std::vector<float>({0.25f, -1.5e-9f, 3.0e20f, 7.0f}));

  // A window of one channel into one SAC file; two channels are refused before anything.
  RunResult window =
      run_binary(dir.path(), {"a.wfdisc", "cut.sac", "/Tsac", "--chan", "BHZ", "--sta", "ABC",
                              "--from", "2001-02-12T03:07:10", "--to", "+2"});
  EXPECT_EQ(window.status, 0) << window.out << window.err;
  SacFile cut = read_sac(dir.read("cut.sac"));
  ASSERT_TRUE(cut.ok);
  EXPECT_EQ(cut.data.size(), 40u);
  EXPECT_EQ(cut.data.front(), -30.0f);
  EXPECT_EQ(cut.ints["nzsec"], 10);
  // A window of a float record keeps its floats.
  RunResult reals = run_binary(dir.path(), {"a.wfdisc", "reals.sac", "/Tsac", "--chan", "BHN",
                                            "--from", "2001-02-12T03:07:09.05"});
  EXPECT_EQ(reals.status, 0) << reals.out << reals.err;
  SacFile kept = read_sac(dir.read("reals.sac"));
  ASSERT_TRUE(kept.ok);
  EXPECT_EQ(kept.data, std::vector<float>({-1.5e-9f, 3.0e20f, 7.0f}));
  EXPECT_EQ(kept.ints["nzmsec"], 50);
  RunResult two = run_binary(dir.path(), {"a.wfdisc", "two.sac", "/Tsac", "--sta", "ABC", "--from",
                                          "2001-02-12T03:07:09", "--to", "+2"});
  EXPECT_EQ(two.status, 1);
  EXPECT_NE(two.err.find("the output would hold 2 blocks"), std::string::npos) << two.err;
}

TEST(IdentityRun, OutputOptionsReadOrRefused) {
  TempDir dir;
  write_archive(dir);
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"/Tmseed", "--encoding", "steim3"}, "--encoding steim3: steim2, steim1 or int32"},
      {{"/Tmseed", "--reclen=1000"}, "--reclen 1000: a power of two from 256 to 65536 bytes"},
      {{"/Tmseed", "--reclen", "131072"},
       "--reclen 131072: a power of two from 256 to 65536 bytes"},
      {{"/Tcm6", "--encoding", "int32"}, "--encoding goes with /Tmseed"},
      {{"--net", "ABCDEFGHI"}, "--net ABCDEFGHI: ABCDEFGHI is longer than 8 characters"},
      {{"--loc"}, "--loc needs a value"},
      {{"--rename", "ABC"}, "--rename ABC: ABC is not OLD=NEW"},
  };
  for (const auto& [options, why] : cases) {
    std::vector<std::string> args = {"a.wfdisc", "/R"};
    args.insert(args.end(), options.begin(), options.end());
    RunResult result = run_binary(dir.path(), args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "wavconv: " + std::string(why) + "\n");
    EXPECT_EQ(result.out, "");
  }
}

#ifdef WAVCONV_MSEED
TEST(IdentityRun, MiniseedOfCountsAndFloatsReadByLibmseed) {
  TempDir dir;
  write_archive(dir);
  dir.write("ABC_BHN_2001043_030709.mseed", "not miniSEED");
  RunResult result = run_binary(dir.path(), {"a.wfdisc", "/R", "/Tmseed", "--encoding", "int32",
                                             "--reclen", "256", "--loc", "00"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find(" Record 3 (ABC BHN): output ABC_BHN_2001043_030709.mseed: not a "
                            "miniSEED file, not replaced"),
            std::string::npos)
      << result.out;
  bool ok = false;
  std::vector<MseedRecord> records = read_mseed(dir.read("ABC_BHZ_2001043_030709.mseed"), &ok);
  ASSERT_TRUE(ok);
  std::vector<std::int32_t> back;
  for (const MseedRecord& r : records) {
    EXPECT_EQ(r.net + "." + r.sta + "." + r.loc + "." + r.chan, "IU.ABC.00.BHZ");
    EXPECT_EQ(r.encoding, DE_INT32);
    EXPECT_EQ(r.length, 256);
    back.insert(back.end(), r.ints.begin(), r.ints.end());
  }
  const std::vector<int> expected = counting(-50, 100);
  EXPECT_EQ(back, std::vector<std::int32_t>(expected.begin(), expected.end()));
  EXPECT_EQ(records.front().start_us, 981947229'000'000);

  std::remove(dir.file("ABC_BHN_2001043_030709.mseed").c_str());
  RunResult floats = run_binary(dir.path(), {"a.wfdisc", "/R3", "/Tmseed", "--net", "XX"});
  EXPECT_EQ(floats.status, 0) << floats.out;
  records = read_mseed(dir.read("ABC_BHN_2001043_030709.mseed"), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].encoding, DE_FLOAT32);
  EXPECT_EQ(records[0].net, "XX");
  EXPECT_EQ(records[0].floats, std::vector<float>({0.25f, -1.5e-9f, 3.0e20f, 7.0f}));
}
#endif

}  // namespace
}  // namespace wavconv::testing
