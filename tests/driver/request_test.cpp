#include "driver/request.h"

#include <gtest/gtest.h>

#include <sstream>

#include "test_support.h"

namespace wavconv::testing {
namespace {

namespace fs = std::filesystem;
constexpr driver::Microseconds kStart = 981947229LL * 1000000;  // 2001-02-12 03:07:09

// Each WAVEFORM line is answered with the environment the lines before it set; other request
// lines are kept to be answered in the log; any other line is taken and not used.
TEST(Request, WaveformLinesTakeTheEnvironmentBeforeThem) {
  auto parsed = driver::parse_request(
      "\n  begin gse2.1\r\n"
      "MSG_TYPE request\n"
      "MSG_ID rq7 idc_ndc\n"
      "REF_ID earlier\n"
      "E-MAIL someone@example.org\n"
      "LAT -10 TO 10\n"
      "TIME 2001/02/12 03:07:09 TO 2001/02/12 03:07:10.5\n"
      "STA_LIST ABC, x?z\n"
      "CHAN_LIST BH?\n"
      "WAVEFORM IMS2.0:INT\n"
      "STA_LIST ABC\n"
      "TIME 2001/02/12 TO 2001/02/13 00:00\n"
      "WAVEFORM\n"
      "BULLETIN IMS2.0\n"
      "WAVEFORM GSE2.0:CM8\n"
      "STOP\n"
      "anything after STOP\n");
  ASSERT_TRUE(std::holds_alternative<driver::Request>(parsed)) << std::get<std::string>(parsed);
  const driver::Request& request = std::get<driver::Request>(parsed);
  EXPECT_EQ(request.version, "GSE2.1");
  EXPECT_EQ(request.msg_id, "rq7 idc_ndc");
  ASSERT_EQ(request.lines.size(), 4u);
  const driver::RequestLine &first = request.lines[0], &second = request.lines[1];
  EXPECT_TRUE(first.answered);
  EXPECT_EQ(first.number, 11);  // the blank line first counts
  EXPECT_EQ(first.version, "IMS2.0");
  EXPECT_EQ(first.subformat, "INT");
  EXPECT_EQ(first.selection.from, kStart);
  EXPECT_EQ(first.selection.to, kStart + 1500000);
  EXPECT_EQ(first.selection.sta_list, (std::vector<std::string>{"ABC", "x?z"}));
  EXPECT_EQ(first.selection.chan_list, (std::vector<std::string>{"BH?"}));
  EXPECT_TRUE(second.answered);
  EXPECT_EQ(second.version, "GSE2.1");  // the message's
  EXPECT_EQ(second.subformat, "CM6");
  EXPECT_EQ(second.selection.from, 981936000LL * 1000000);
  EXPECT_EQ(second.selection.to, 982022400LL * 1000000);
  EXPECT_EQ(second.selection.sta_list, (std::vector<std::string>{"ABC"}));
  EXPECT_EQ(second.selection.chan_list, (std::vector<std::string>{"BH?"}));
  EXPECT_EQ(second.selection.text,
            " TIME 2001/02/12 TO 2001/02/13 00:00 STA_LIST ABC CHAN_LIST BH?");
  EXPECT_FALSE(request.lines[2].answered);
  EXPECT_EQ(request.lines[2].text, "BULLETIN IMS2.0");
  EXPECT_EQ(request.lines[2].why, "not answered here (only WAVEFORM lines are)");
  EXPECT_FALSE(request.lines[3].answered);
  EXPECT_EQ(request.lines[3].why, "subformat CM8 is not written here (CM6, INT)");
  // The id is written again in the answer: no control character goes with it.
  auto controlled =
      driver::parse_request("BEGIN IMS2.0\nMSG_TYPE REQUEST\nMSG_ID a\x01\tb\nWAVEFORM\nSTOP\n");
  ASSERT_TRUE(std::holds_alternative<driver::Request>(controlled));
  EXPECT_EQ(std::get<driver::Request>(controlled).msg_id, "a??b");
}

TEST(Request, MalformedMessagesNameTheLine) {
  const std::string head = "BEGIN IMS2.0\nMSG_TYPE REQUEST\nMSG_ID a\n";
  struct Case {
    std::string text, error;
  } cases[] = {
      {"", "an empty message: a request begins with BEGIN"},
      {"hello\nBEGIN IMS2.0\n", "line 1: the message begins with BEGIN, not \"hello\""},
      {"BEGIN IMS1.0\n", "line 1: version IMS1.0 is not read (IMS2.0, GSE2.0, GSE2.1)"},
      {"BEGIN\n", "line 1: BEGIN names one version (IMS2.0, GSE2.0, GSE2.1)"},
      {"BEGIN IMS2.0\nMSG_TYPE DATA\n", "line 2: \"MSG_TYPE DATA\": not a REQUEST message"},
      {head + "TIME 2001/02/30 TO 2001/03/01\nWAVEFORM\nSTOP\n",
       "line 4: \"TIME 2001/02/30 TO 2001/03/01\" does not read (TIME YYYY/MM/DD "
       "[hh:mm[:ss[.f]]] TO YYYY/MM/DD [hh:mm[:ss[.f]]])"},
      {head + "TIME 2001/02/12 03:00:00\nWAVEFORM\nSTOP\n",
       "line 4: \"TIME 2001/02/12 03:00:00\" does not read (TIME YYYY/MM/DD [hh:mm[:ss[.f]]] TO "
       "YYYY/MM/DD [hh:mm[:ss[.f]]])"},
      {head + "TIME 2001/02/12 TO 2001/02/12\nWAVEFORM\nSTOP\n",
       "line 4: \"TIME 2001/02/12 TO 2001/02/12\": the window is empty"},
      {head + "STA_LIST ,\nWAVEFORM\nSTOP\n", "line 4: STA_LIST without a name"},
      {head + "WAVEFORM\n", "line 4: the message ends without STOP"},
      {"BEGIN IMS2.0\nMSG_ID a\nWAVEFORM\nSTOP\n", "the message has no MSG_TYPE REQUEST line"},
      {"BEGIN IMS2.0\nMSG_TYPE REQUEST\nWAVEFORM\nSTOP\n", "the message has no MSG_ID line"},
      {head + "STOP\n", "the message asks for nothing (no request line)"},
      {head + std::string(driver::kMaxRequestBytes, ' '),
       "larger than 1 MiB: not a request message"},
  };
  for (const Case& c : cases) {
    auto parsed = driver::parse_request(c.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.error;
    EXPECT_EQ(std::get<std::string>(parsed), c.error);
  }
}

// --- Whole runs ---

// Two stations of 100 samples at 20 sps from 03:07:09, the second's record in two halves that
// join (samples counting from 0 and from 1000).
struct Archive {
  TempDir dir;
  Archive() {
    std::string header;
    for (const auto& [sta, time, foff, nsamp] :
         {std::tuple{"ABC", 981947229.0, 0, 100}, std::tuple{"XYZ", 981947229.0, 400, 50},
          std::tuple{"XYZ", 981947231.5, 600, 50}}) {
      Header h;
      h.sta = sta;
      h.time = time;
      h.foff = foff;
      h.nsamp = nsamp;
      header += h.line() + "\n";
    }
    dir.write("a.wfdisc", header);
    dir.write("abc.w", sample_bytes(counting(0, 100)) + sample_bytes(counting(1000, 100)));
  }
};

// Each line of `text` cut to its first 20 characters.
std::string heads(const std::string& text) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) out += line.substr(0, 20) + "\n";
  return out;
}

TEST(Request, AnsweredWithOneDataMessage) {
  Archive archive;
  archive.dir.write("req.msg",
                    "BEGIN GSE2.0\nMSG_TYPE REQUEST\nMSG_ID q1 ndc\n"
                    "TIME 2001/02/12 03:07:10 TO 2001/02/12 03:07:12\n"
                    "STA_LIST xyz, ABC\nWAVEFORM GSE2.0:INT\n"
                    "STA_LIST ABC\nTIME 2001/02/12 03:07:09 TO 2001/02/12 03:07:09.1\n"
                    "WAVEFORM GSE2.0:INT\nSTOP\n");
  RunResult result = run_binary(archive.dir.path(), {"--request", "req.msg", "a.wfdisc"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, " \r\n");  // the console records, on standard error
  std::string lines;
  std::vector<std::vector<int>> blocks = int_blocks(result.out, &lines);
  EXPECT_EQ(heads(lines),
            "BEGIN GSE2.0\nMSG_TYPE DATA\nMSG_ID q1_answer\nREF_ID q1 ndc\n"
            "DATA_TYPE WAVEFORM G\nWID2 2001/02/12 03:0\nSTA2                \nDAT2\n"
            "CHK2     1580\nWID2 2001/02/12 03:0\nSTA2                \nDAT2\n"
            "CHK2    41580\n"
            "DATA_TYPE WAVEFORM G\nWID2 2001/02/12 03:0\nSTA2                \nDAT2\n"
            "CHK2        1\nSTOP\n");
  EXPECT_NE(result.out.find("DATA_TYPE WAVEFORM GSE2.0:INT\nWID2 2001/02/12 03:07:10.000 ABC"),
            std::string::npos);
  ASSERT_EQ(blocks.size(), 3u);
  // 03:07:10 to 03:07:12 of ABC, then of XYZ: the last 30 of its first half and the first 10
  // of its second, joined.
  EXPECT_EQ(blocks[0], counting(20, 40));
  EXPECT_EQ(blocks[1], counting(1020, 40));
  EXPECT_EQ(blocks[2], counting(0, 2));

  // The same from standard input, into a file; the console records on standard output.
  RunResult piped =
      run_shell(archive.dir.path(), "\"$W\" --request - a.wfdisc answer.msg < req.msg");
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, " \r\n");
  std::string file = archive.dir.read("answer.msg");
  EXPECT_NE(file.find("MSG_ID answer\nREF_ID q1 ndc\n"), std::string::npos) << file;
  EXPECT_EQ(file.substr(file.find("DATA_TYPE")), result.out.substr(result.out.find("DATA_TYPE")));
}

TEST(Request, LinesNotAnsweredGoToTheErrorLogAndFailTheRun) {
  Archive archive;
  archive.dir.write("req.msg",
                    "BEGIN IMS2.0\nMSG_TYPE REQUEST\nMSG_ID q2\nSTA_LIST ABC\nWAVEFORM\n"
                    "STATION IMS2.0\nSTA_LIST ZZZ\nWAVEFORM IMS2.0:CM6\nSTOP\n");
  RunResult result = run_binary(archive.dir.path(), {"--request=req.msg", "a.wfdisc", "a.msg"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, " Error: 2 of 3 request lines not answered (see the ERROR_LOG)\r\n");
  std::string file = archive.dir.read("a.msg");
  EXPECT_EQ(file.substr(0, file.find("WID2")),
            "BEGIN IMS2.0\nMSG_TYPE DATA\nMSG_ID a\nREF_ID q2\nDATA_TYPE WAVEFORM IMS2.0:CM6\n");
  EXPECT_EQ(file.substr(file.find("DATA_TYPE ERROR_LOG")),
            "DATA_TYPE ERROR_LOG IMS2.0\n"
            "line 6: STATION IMS2.0: not answered here (only WAVEFORM lines are)\n"
            "line 8: WAVEFORM IMS2.0:CM6: nothing in the archive matches STA_LIST ZZZ\n"
            "STOP\n");
}

// A message that does not read ends the run before anything is written; so does a request
// that goes with window options.
TEST(Request, MalformedOrMisusedEndsBeforeAnythingIsWritten) {
  Archive archive;
  archive.dir.write("bad.msg", "BEGIN IMS2.0\nMSG_TYPE REQUEST\nMSG_ID x\nTIME soon\n");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--request", "bad.msg", "a.wfdisc", "out.msg"},
       "wavconv: bad.msg: line 4: \"TIME soon\" does not read (TIME YYYY/MM/DD [hh:mm[:ss[.f]]] "
       "TO YYYY/MM/DD [hh:mm[:ss[.f]]])\n"},
      {{"--request", "none.msg", "a.wfdisc", "out.msg"},
       "wavconv: none.msg: No such file or directory\nwavconv: none.msg: request not read\n"},
      {{"--request", "bad.msg", "--sta", "ABC", "a.wfdisc", "out.msg"},
       "wavconv: --request does not go with --from, --to, --sta or --chan: the request says what "
       "it asks for\n"},
      {{"--request=", "a.wfdisc"}, "wavconv: --request needs a file (- for standard input)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    RunResult result = run_binary(archive.dir.path(), c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(archive.dir.file("out.msg")));
  }
}

}  // namespace
}  // namespace wavconv::testing
