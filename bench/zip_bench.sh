#!/usr/bin/env bash
# Packing throughput of the zip writer against a plain loop over the same
# zlib calls, in the same Wine run, with `zip -9` on the same files as a
# second (native) peer; then the peak working set for a 1 MiB and a 1 GiB
# file. Prints ratios; nothing here is a test.
#   bench/zip_bench.sh            (builds first with scripts/build.sh)
. "$(dirname "$0")/bench-env.sh"
# Mixed contents: text-like and random, 64 MiB in all.
if [ ! -f "$bench/mixed-3.bin" ]; then
  for i in 0 1 2 3; do
    { base64 -w 100 </dev/urandom | head -c 12M; head -c 4M </dev/urandom; } >"$bench/mixed-$i.bin"
  done
fi
files=("$bench"/mixed-*.bin)
winfiles=(); for f in "${files[@]}"; do winfiles+=("$(win "$f")"); done
seconds() { sed -n 's/^seconds \([0-9.]*\) peak.*/\1/p'; }
peak() { tr -d '\r' | sed -n 's/^seconds .* peak \([0-9]*\)$/\1/p'; }
best() { sort -n | head -1; }
writer=(); loop=()
for round in 1 2 3; do
  writer+=("$("$WINE" "$build/bench/ZipBench.exe" writer "$(win "$bench/w.zip")" "${winfiles[@]}" | seconds)")
  loop+=("$("$WINE" "$build/bench/ZipBench.exe" loop "$(win "$bench/l.bin")" "${winfiles[@]}" | seconds)")
done
w=$(printf '%s\n' "${writer[@]}" | best)
l=$(printf '%s\n' "${loop[@]}" | best)
start=$(date +%s.%N); rm -f "$bench/z.zip"; zip -9 -q "$bench/z.zip" "${files[@]}"; end=$(date +%s.%N)
z=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
printf 'zip writer / plain zlib loop (time, best of 3): %.3f  (target at most 1.05)\n' "$(awk -v a="$w" -v b="$l" 'BEGIN { print a / b }')"
printf 'zip writer / zip -9 (time):                     %.3f\n' "$(awk -v a="$w" -v b="$z" 'BEGIN { print a / b }')"

head -c 1M </dev/urandom >"$bench/one-mib.bin"
[ -f "$bench/one-gib.bin" ] || head -c 1G </dev/urandom >"$bench/one-gib.bin"
small=$("$WINE" "$build/bench/ZipBench.exe" writer "$(win "$bench/s.zip")" "$(win "$bench/one-mib.bin")" | peak)
large=$("$WINE" "$build/bench/ZipBench.exe" writer "$(win "$bench/g.zip")" "$(win "$bench/one-gib.bin")" | peak)
printf 'peak working set, 1 MiB file: %d KiB; 1 GiB file: %d KiB; growth %d KiB (buffers 512 KiB plus zlib state allowed)\n' \
  $((small / 1024)) $((large / 1024)) $(((large - small) / 1024))
rm -f "$bench"/*.zip "$bench/l.bin"
