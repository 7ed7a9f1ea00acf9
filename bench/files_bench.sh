#!/usr/bin/env bash
# Files-log throughput against a plain read-and-digest loop over the same
# files, in the same Wine run: a folder of large files and a tree of 20,000
# small ones; md5sum on the same files as the native reference (Wine's file
# opening costs about 0.8 ms a file, so the native figure is no target);
# then 2,000 against 20,000 small files for the listing's growth. Prints
# ratios; nothing here is a test.
#   bench/files_bench.sh            (builds first with scripts/build.sh)
. "$(dirname "$0")/bench-env.sh"
large=$bench/large small=$bench/small tenth=$bench/tenth
if [ ! -f "$large/done" ]; then
  mkdir -p "$large"
  for i in 0 1 2; do head -c 128M </dev/urandom >"$large/big-$i.bin"; done
  touch "$large/done"
fi
makeTree() { # folder count
  [ -f "$1/done" ] && return
  mkdir -p "$1"
  for d in $(seq 0 $(($2 / 1000 - 1))); do
    mkdir -p "$1/d$d"
    (cd "$1/d$d" && head -c $((1000 * 1024)) </dev/urandom | split -b 1024 -a 3 -d - f)
  done
  touch "$1/done"
}
makeTree "$small" 20000
makeTree "$tenth" 2000
seconds() { tr -d '\r' | sed -n 's/^seconds \([0-9.]*\)$/\1/p'; }
best() { sort -n | head -1; }
run() { "$WINE" "$build/bench/FilesBench.exe" "$1" "$(win "$2")" | seconds; }
bestOf() { for _ in 1 2 3; do run "$1" "$2"; done | best; }
native() {
  local start end
  start=$(date +%s.%N); find "$1" -type f -exec md5sum {} + >/dev/null; end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
for set in large small; do
  folder=${!set}
  log=$(bestOf log "$folder") loop=$(bestOf loop "$folder") md5=$(native "$folder")
  printf '%-5s files: throughput files log / plain loop %s (target at least 0.9); files log %.2f s, loop %.2f s, md5sum %.2f s\n' \
    "$set" "$(ratio "$loop" "$log")" "$log" "$loop" "$md5"
done
few=$(bestOf log "$tenth") many=$(bestOf log "$small")
printf 'listing time, 20,000 files / 2,000 files: %s (target at most 11)\n' "$(ratio "$many" "$few")"
