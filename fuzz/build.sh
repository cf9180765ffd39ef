#!/usr/bin/env bash
# Builds the libFuzzer targets into fuzz/out/ with clang++, AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p fuzz/out/obj
flags=(-std=c++20 -g -O1 -DWAVCONV_VERSION='"fuzz"' -fsanitize=address,undefined -fno-sanitize-recover=all -Isrc -Ifuzz -Itests/support)
sources=(src/common/*.cpp src/css/*.cpp src/gse/*.cpp src/driver/options.cpp src/driver/output.cpp
         src/driver/record_mode.cpp src/driver/run.cpp src/driver/scaling.cpp src/driver/batch.cpp src/driver/progress.cpp
         src/driver/file_keys.cpp src/driver/identity.cpp src/driver/pool.cpp src/driver/record_run.cpp
         src/driver/request.cpp src/driver/selection.cpp src/driver/window_mode.cpp
         fuzz/targets.cpp)
libraries=(-lz)
if [ -f /usr/include/libmseed.h ]; then
  flags+=(-DWAVCONV_MSEED)
  libraries+=(-lmseed)
fi
objects=()
for source in "${sources[@]}"; do
  object="fuzz/out/obj/$(echo "$source" | tr / _).o"
  clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
  objects+=("$object")
done
for target in wfdisc numeric options conversion record_mode e1 station_tables float_scaling gse2_writers \
    binary_writers request; do
  clang++ "${flags[@]}" -fsanitize=fuzzer "${objects[@]}" "fuzz/fuzz_$target.cpp" "${libraries[@]}" \
    -o "fuzz/out/fuzz_$target"
done
echo "built: $(cd fuzz/out && ls fuzz_* | tr '\n' ' ')"
