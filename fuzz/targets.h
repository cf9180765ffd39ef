#pragma once

#include <cstddef>
#include <cstdint>

// Fuzz entry points. Each takes arbitrary bytes and aborts when an invariant fails.
namespace wavconv::fuzz {

// The bytes as a header line: the wfdisc record read and the sample path composed.
void wfdisc_record(const std::uint8_t* data, std::size_t size);

// Byte 0 picks I or F and the width, byte 1 the decimals; the rest is the field.
void numeric_input(const std::uint8_t* data, std::size_t size);

// The bytes split at NUL into an argument vector for the option reader.
void command_line(const std::uint8_t* data, std::size_t size);

// A whole conversion in a private directory: header bytes, sample bytes and arguments,
// separated by the four bytes "\n--\n".
void conversion(const std::uint8_t* data, std::size_t size);

// The same in record mode (/R added): every created file is whole blocks ending in one STOP.
void record_mode(const std::uint8_t* data, std::size_t size);

// A site table, "\n--\n", a sitechan table: read (never an abort), every problem naming its
// table, and the look-up of the conversion the same as that of the listing.
void station_tables(const std::uint8_t* data, std::size_t size);
// Byte 0 a format, bytes 1-4 a calib, the rest float samples as doubles: a scaling keeps every
// count within the format and half a count of its sample, with three significant digits.
void float_scaling(const std::uint8_t* data, std::size_t size);
// Byte 0 cm6, int or ims, the rest samples: the block reads back to the samples and checksum.
void gse2_writers(const std::uint8_t* data, std::size_t size);
// miniSEED (where the build has it) and SAC: what is written reads back as it was.
void binary_writers(const std::uint8_t* data, std::size_t size);
// Bytes 0-1 (big-endian) the sample count, the rest e1 data: decoded without reading outside
// the data, and the decoded values re-encoded by their block headers' rules.
void e1_data(const std::uint8_t* data, std::size_t size);
// A REQUEST message: read or refused with a reason naming a line or the message; its id holds
// no control character; every WAVEFORM line read is answered in CM6 or INT with a window that
// is not empty.
void request_message(const std::uint8_t* data, std::size_t size);

}  // namespace wavconv::fuzz
