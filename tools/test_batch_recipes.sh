#!/usr/bin/env bash
# Runs the batch recipes of README and the manual page on the bundled example copied 40 times,
# with one broken header among the copies: every good segment must be converted exactly, the
# broken one, and only it, collected as failed, and each header's messages kept in its log.
# The GNU parallel recipe is tried where parallel is installed. Usage:
# tools/test_batch_recipes.sh WAVCONV
set -euo pipefail
wavconv=$(readlink -f "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export PATH="$(dirname "$wavconv"):$PATH"
record_name=WVC01_HHZ_2001043_030709.gse

fresh() {
  rm -rf css gse failed.txt && mkdir css gse
  cp "$root/examples/example.w" css/
  for i in $(seq -w 1 40); do cp "$root/examples/example.wfdisc" "css/seg$i.wfdisc"; done
  echo "not a header" > css/broken.wfdisc
}

# Every converted file is the expected block; the broken header alone failed, its log says why.
check() {
  local what=$1 outputs=$2 expected=$3
  [ "$(cat failed.txt)" = "css/broken.wfdisc" ] || { echo "$what: failed.txt: $(cat failed.txt)"; exit 1; }
  [ "$(ls gse/*.gse | wc -l)" -eq "$outputs" ] || { echo "$what: outputs: $(ls gse)"; exit 1; }
  for f in gse/*.gse; do cmp -s "$f" "$expected" || { echo "$what: $f differs"; exit 1; }; done
  grep -qi "error" gse/broken.log || { echo "$what: no log for broken"; exit 1; }
  echo "batch recipe ($what): converted, 1 collected as failed"
}

# Headers of one segment each, as README shows it.
fresh
find css -name '*.wfdisc' -print0 |
  xargs -0 -P "$(nproc)" -I{} sh -c \
    'b=$(basename "$1" .wfdisc); wavconv -- "$1" "gse/$b.gse" > "gse/$b.log" 2>&1 || echo "$1"' _ {} \
  > failed.txt
check "default run" 40 "$root/examples/example_043.gse"

# Archives in record mode, as README shows it. The 40 copies describe the same record, so they
# all write (and replace) the one per-record file.
fresh
find css -name '*.wfdisc' -print0 |
  xargs -0 -P "$(nproc)" -I{} sh -c \
    'wavconv /R /Ogse/ -- "$1" > "gse/$(basename "$1" .wfdisc).log" 2>&1 || echo "$1"' _ {} \
  > failed.txt
check "record mode" 1 "$work/gse/$record_name"
"$wavconv" /R /I"$root/examples/" example.wfdisc /O"$work/" > /dev/null
cmp -s "$work/$record_name" "gse/$record_name" || { echo "record mode: output differs"; exit 1; }

# One run of every header (/M), as README shows it: the same outputs, the broken header named in
# the log, status 1.
fresh
mkdir -p gse/one
for i in $(seq -w 1 40); do sed "s/example.w/seg$i.w  /" css/seg$i.wfdisc > css/m$i.wfdisc; cp css/example.w css/seg$i.w; done
rm css/seg*.wfdisc
if wavconv /M /Ogse/one/ -- css/*.wfdisc 2> convert.log > status.txt; then
  echo "/M: status 0 with a broken header"; exit 1
fi
[ "$(cat status.txt)" = "$(printf ' Error: 1 of 41 headers not converted\r')" ] || { echo "/M: $(cat status.txt)"; exit 1; }
grep -q "^wavconv: css/broken.wfdisc: " convert.log || { echo "/M: no message for broken"; exit 1; }
[ "$(ls gse/one | wc -l)" -eq 40 ] || { echo "/M outputs: $(ls gse/one | wc -l)"; exit 1; }
for i in $(seq -w 1 40); do
  wavconv -- css/m$i.wfdisc gse/alone.gse > /dev/null
  cmp -s gse/alone.gse gse/one/seg${i}_043.gse || { echo "/M: seg$i differs"; exit 1; }
done
echo "batch recipe (/M): 40 converted as separate runs would, 1 named as failed"

if command -v parallel > /dev/null 2>&1 && parallel --version 2>/dev/null | grep -q GNU; then
  fresh
  parallel 'wavconv /R /Ogse/ -- {} > gse/{/.}.log 2>&1 || echo {}' ::: css/*.wfdisc > failed.txt
  check "GNU parallel" 1 "$work/gse/$record_name"
fi
