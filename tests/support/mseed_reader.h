#pragma once
// miniSEED records read back with libmseed's own parser, for the tests.

#include <libmseed.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace wavconv::testing {

struct MseedRecord {
  std::string net, sta, loc, chan;
  char quality = 0;
  std::int64_t start_us = 0;
  double samprate = 0;
  int encoding = -1;
  int length = 0;
  int sequence = 0;
  int byte_order = -1;
  bool has_1001 = false;
  std::vector<std::int32_t> ints;
  std::vector<float> floats;
  std::vector<double> doubles;
};

// Every record of `bytes`, in order; a record that does not parse ends the list with `ok` false.
inline std::vector<MseedRecord> read_mseed(const std::string& bytes, bool* ok = nullptr) {
  std::vector<MseedRecord> records;
  std::vector<char> copy(bytes.begin(), bytes.end());
  if (ok) *ok = true;
  for (std::size_t at = 0; at < copy.size();) {
    MSRecord* msr = nullptr;
    const int rc = msr_parse(copy.data() + at, static_cast<int>(copy.size() - at), &msr, 0, 1, 0);
    if (rc != MS_NOERROR || !msr) {
      if (ok) *ok = false;
      if (msr) msr_free(&msr);
      break;
    }
    MseedRecord r;
    r.net = msr->network;
    r.sta = msr->station;
    r.loc = msr->location;
    r.chan = msr->channel;
    r.quality = msr->dataquality;
    r.start_us = msr->starttime;
    r.samprate = msr->samprate;
    r.encoding = msr->encoding;
    r.length = msr->reclen;
    r.sequence = msr->sequence_number;
    r.byte_order = msr->byteorder;
    r.has_1001 = msr->Blkt1001 != nullptr;
    const auto n = static_cast<std::size_t>(msr->numsamples);
    if (msr->sampletype == 'i') {
      const auto* v = static_cast<const std::int32_t*>(msr->datasamples);
      r.ints.assign(v, v + n);
    } else if (msr->sampletype == 'f') {
      const auto* v = static_cast<const float*>(msr->datasamples);
      r.floats.assign(v, v + n);
    } else if (msr->sampletype == 'd') {
      const auto* v = static_cast<const double*>(msr->datasamples);
      r.doubles.assign(v, v + n);
    }
    at += static_cast<std::size_t>(msr->reclen);
    msr_free(&msr);
    records.push_back(std::move(r));
  }
  return records;
}

}  // namespace wavconv::testing
