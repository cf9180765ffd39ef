#pragma once
// A SAC binary file read by the format's description: 70 4-byte floats, 35 4-byte integers,
// 5 4-byte logicals, 24 8-byte strings (the second 16 bytes long) making a 632-byte header, then
// npts 4-byte floats; little-endian here.

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace wavconv::testing {

struct SacFile {
  std::map<std::string, float> reals;
  std::map<std::string, std::int32_t> ints;
  std::map<std::string, std::string> texts;  // blanks at the end dropped
  std::vector<float> data;
  bool ok = false;  // the header read and the file holds npts samples, no more
};

inline SacFile read_sac(const std::string& bytes) {
  static const char* const kReals[70] = {
      "delta",   "depmin",  "depmax",  "scale",    "odelta",   "b",        "e",        "o",
      "a",       "fmt",     "t0",      "t1",       "t2",       "t3",       "t4",       "t5",
      "t6",      "t7",      "t8",      "t9",       "f",        "resp0",    "resp1",    "resp2",
      "resp3",   "resp4",   "resp5",   "resp6",    "resp7",    "resp8",    "resp9",    "stla",
      "stlo",    "stel",    "stdp",    "evla",     "evlo",     "evel",     "evdp",     "mag",
      "user0",   "user1",   "user2",   "user3",    "user4",    "user5",    "user6",    "user7",
      "user8",   "user9",   "dist",    "az",       "baz",      "gcarc",    "sb",       "sdelta",
      "depmen",  "cmpaz",   "cmpinc",  "xminimum", "xmaximum", "yminimum", "ymaximum", "unused6",
      "unused7", "unused8", "unused9", "unused10", "unused11", "unused12"};
  static const char* const kInts[40] = {
      "nzyear",   "nzjday",   "nzhour",   "nzmin",    "nzsec",    "nzmsec",   "nvhdr",
      "norid",    "nevid",    "npts",     "nsnpts",   "nwfid",    "nxsize",   "nysize",
      "unused15", "iftype",   "idep",     "iztype",   "unused16", "iinst",    "istreg",
      "ievreg",   "ievtyp",   "iqual",    "isynth",   "imagtyp",  "imagsrc",  "unused19",
      "unused20", "unused21", "unused22", "unused23", "unused24", "unused25", "unused26",
      "leven",    "lpspol",   "lovrok",   "lcalda",   "unused27"};
  static const char* const kTexts[23] = {"kstnm",  "kevnm",  "khole",  "ko",     "ka",     "kt0",
                                         "kt1",    "kt2",    "kt3",    "kt4",    "kt5",    "kt6",
                                         "kt7",    "kt8",    "kt9",    "kf",     "kuser0", "kuser1",
                                         "kuser2", "kcmpnm", "knetwk", "kdatrd", "kinst"};
  SacFile file;
  if (bytes.size() < 632) return file;
  auto word = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  for (std::size_t i = 0; i < 70; ++i) {
    std::uint32_t bits = word(4 * i);
    float f;
    std::memcpy(&f, &bits, 4);
    file.reals[kReals[i]] = f;
  }
  for (std::size_t i = 0; i < 40; ++i) {
    file.ints[kInts[i]] = static_cast<std::int32_t>(word(280 + 4 * i));
  }
  std::size_t at = 440;
  for (std::size_t i = 0; i < 23; ++i) {
    const std::size_t length = i == 1 ? 16 : 8;
    std::string text = bytes.substr(at, length);
    text.erase(text.find_last_not_of(' ') + 1);
    file.texts[kTexts[i]] = text;
    at += length;
  }
  const std::int32_t npts = file.ints["npts"];
  if (npts < 0 || bytes.size() != 632 + 4 * static_cast<std::size_t>(npts)) return file;
  for (std::int32_t i = 0; i < npts; ++i) {
    std::uint32_t bits = word(632 + 4 * static_cast<std::size_t>(i));
    float f;
    std::memcpy(&f, &bits, 4);
    file.data.push_back(f);
  }
  file.ok = true;
  return file;
}

}  // namespace wavconv::testing
