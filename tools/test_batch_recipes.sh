#!/usr/bin/env bash
# Runs the batch recipe of README and the manual page on the bundled example copied 40 times,
# with one broken header among the copies: every good segment must be converted exactly, and
# the broken one, and only it, collected as failed. Usage: tools/test_batch_recipes.sh WAVCONV
set -euo pipefail
wavconv=$(readlink -f "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir css gse
cp "$root/examples/example.w" css/
for i in $(seq -w 1 40); do cp "$root/examples/example.wfdisc" "css/seg$i.wfdisc"; done
echo "not a header" > css/broken.wfdisc
export PATH="$(dirname "$wavconv"):$PATH"

# The recipe, as README shows it.
find css -name '*.wfdisc' -print0 |
  xargs -0 -P "$(nproc)" -I{} sh -c \
    'wavconv -- "$1" "gse/$(basename "$1" .wfdisc).gse" >/dev/null 2>&1 || echo "$1"' _ {} \
  > failed.txt

[ "$(cat failed.txt)" = "css/broken.wfdisc" ] || { echo "failed.txt: $(cat failed.txt)"; exit 1; }
[ "$(ls gse | wc -l)" -eq 40 ] || { echo "outputs: $(ls gse | wc -l)"; exit 1; }
for f in gse/*.gse; do cmp -s "$f" "$root/examples/example_043.gse" || { echo "$f differs"; exit 1; }; done
echo "batch recipe: 40 converted, 1 collected as failed"
