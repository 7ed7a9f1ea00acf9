#!/usr/bin/env bash
# The whole silent run, on one thread (Threads=1) and on one worker per
# core (the default), against the plain one-thread loop a minimal program
# needs for the same work (MD5 of every file, then zlib level 9 raw deflate
# in 256 KiB chunks into a zip file), in the same Wine run, with md5sum plus
# zip -9 and 7-Zip's multi-threaded zip as the native tools a user might
# pick instead; the registry export against a minimal exporter; the peak
# working set and its growth per entry; ten times the files against the
# time. Prints one table of ratios; nothing here is a test.
#   bench/run_bench.sh        (builds first; the 32-bit build where it runs)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
export GLEAN_WINE_ROOT=$root/build/bench-wine GLEAN_ARCH=x86 GLEAN_WINE=/usr/lib/wine/wine
"$root/Tests/wine-start.sh" "$GLEAN_WINE_ROOT" >/dev/null
if [ -f "$GLEAN_WINE_ROOT/skip" ]; then
  export GLEAN_ARCH=x64 GLEAN_WINE=/usr/lib/wine/wine64
  "$root/Tests/wine-start.sh" "$GLEAN_WINE_ROOT" >/dev/null
fi
trap '"$root/Tests/wine-stop.sh" "$GLEAN_WINE_ROOT" >/dev/null 2>&1' EXIT
. "$root/Tests/wine-env.sh"
run="$root/build/$GLEAN_ARCH/bench/RunBench.exe"
bench=$root/build/bench-data
mkdir -p "$bench"

# A product-like folder: binaries, compressed files, text logs, a 64 MiB
# UTF-16 log and an 80 MiB database-like file; trees of small files.
/usr/bin/python3 - "$bench" <<'PY'
import os, random, sys
bench = sys.argv[1]
random.seed(1)
words = 'error warning info request response session user file folder open close read write done failed retry'.split()
def text_line(i):
    return f'2026-12-09 12:{i // 60 % 60:02d}:{i % 60:02d}.{i % 1000:03d} [{random.choice(words)}] ' + \
        ' '.join(random.choice(words) for _ in range(8)) + f' id={random.randrange(10**6)}\n'
product = f'{bench}/product'
if not os.path.exists(f'{product}/done'):
    os.makedirs(f'{product}/bin', exist_ok=True)
    os.makedirs(f'{product}/logs', exist_ok=True)
    dlls = '/usr/lib/x86_64-linux-gnu/wine/x86_64-windows'
    total = 0
    for name in sorted(os.listdir(dlls)):
        if total > 100 << 20:
            break
        data = open(f'{dlls}/{name}', 'rb').read()
        open(f'{product}/bin/{name}', 'wb').write(data)
        total += len(data)
    for i in range(4):
        open(f'{product}/archive-{i}.cab', 'wb').write(os.urandom(10 << 20))
    for i in range(6):
        with open(f'{product}/logs/service-{i}.log', 'w') as f:
            size = 0
            n = 0
            while size < 10 << 20:
                line = text_line(n); f.write(line); size += len(line); n += 1
    with open(f'{product}/logs/trace-utf16.log', 'wb') as f:
        f.write(b'\xff\xfe')
        size, n = 0, 0
        while size < 64 << 20:
            data = text_line(n).replace('\n', '\r\n').encode('utf-16-le'); f.write(data); size += len(data); n += 1
    with open(f'{product}/catalog.db', 'wb') as f:
        record = 0
        while f.tell() < 80 << 20:
            page = bytearray(4096)
            for slot in range(0, 4096, 128):
                key = record.to_bytes(8, 'little')
                name = random.choice(words).encode().ljust(24, b'\0')
                value = random.randrange(1 << 32).to_bytes(4, 'little')
                page[slot:slot + 36] = key + name + value
                record += 1
            f.write(page)
    open(f'{product}/done', 'w').close()
# One text log of 1 GiB, and 1 GiB of large files (two logs, random data,
# a database-like file).
def big_text(path, size):
    with open(path, 'w') as f:
        n = 0
        while f.tell() < size:
            f.write(''.join(text_line(i) for i in range(n, n + 4096)))
            n += 4096
if not os.path.exists(f'{bench}/biglog/done'):
    os.makedirs(f'{bench}/biglog', exist_ok=True)
    big_text(f'{bench}/biglog/server.log', 1 << 30)
    open(f'{bench}/biglog/done', 'w').close()
if not os.path.exists(f'{bench}/large/done'):
    os.makedirs(f'{bench}/large', exist_ok=True)
    for i in range(2):
        big_text(f'{bench}/large/trace-{i}.log', 256 << 20)
    with open(f'{bench}/large/blob.bin', 'wb') as f:
        for _ in range(256):
            f.write(os.urandom(1 << 20))
    with open(f'{bench}/large/store.db', 'wb') as f:
        while f.tell() < 256 << 20:
            f.write(os.urandom(1024) + bytes(3072))
    open(f'{bench}/large/done', 'w').close()
for name, count in (('small', 20000), ('tenth', 2000)):
    tree = f'{bench}/{name}'
    if os.path.exists(f'{tree}/done'):
        continue
    for i in range(count):
        folder = f'{tree}/d{i // 1000:02d}'
        os.makedirs(folder, exist_ok=True)
        size = random.randrange(1024, 20 * 1024)
        with open(f'{folder}/f{i:05d}.txt', 'w') as f:
            while f.tell() < size:
                f.write(text_line(i))
    open(f'{tree}/done', 'w').close()
PY
for set in product small tenth biglog large; do
  rm -f "$bench/$set/done.skip"
  for threads in 0 1; do
    printf '%s\r\n' '[Common]' 'AppName=Bench' "Threads=$threads" '[Directories]' "Tree1=$(win "$bench/$set")" \
      '[OtherFiles]' "MaskWithSubdirs1=$(win "$bench/$set")\\*" >"$bench/$set-$threads.ini"
  done
  # Masked: every log and every collected text file through the mask.
  { cat "$bench/$set-0.ini"; printf '%s\r\n' '[Privacy]' 'Mask=1' 'MaskCollectedFiles=1'; } >"$bench/$set-m.ini"
done

field() { tr -d '\r' | sed -n "s/^.*$1 \\([0-9.]*\\).*$/\\1/p" | tail -1; }
best() { sort -n | head -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
# glean SET THREADS: the whole run with that Threads setting.
glean() { "$WINE" "$run" glean "$(win "$bench/$1-$2.ini")" "$(win "$bench/$1-glean-$2.zip")"; }
loop() { "$WINE" "$run" loop "$(win "$bench/$1-loop.zip")" "$(win "$bench/$1")"; }
native() {
  local start end
  start=$(date +%s.%N)
  find "$bench/$1" -type f -exec md5sum {} + >/dev/null
  (cd "$bench/$1" && rm -f "$bench/$1-native.zip" && zip -9 -q -r "$bench/$1-native.zip" .)
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
# sevenzip SET LEVEL: 7-Zip's zip on every core at that level.
sevenzip() {
  local start end
  start=$(date +%s.%N)
  (cd "$bench/$1" && rm -f "$bench/$1-7z$2.zip" && 7z a -tzip "-mx=$2" "-mmt=$(nproc)" "$bench/$1-7z$2.zip" . >/dev/null)
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
size() { stat -c %s "$1"; }
# The run of a set with its peak of temporary space (the Wine temporary
# folder, sampled every 50 ms) added to its output as "temp B".
temp=$(echo "$WINEPREFIX"/drive_c/users/*/Temp)
withtemp() {
  local base peak now out pid
  base=$(du -sb "$temp" | cut -f1); peak=$base
  "$@" >"$bench/run.out" &
  pid=$!
  while kill -0 $pid 2>/dev/null; do
    now=$(du -sb "$temp" 2>/dev/null | cut -f1); [ "${now:-0}" -gt "$peak" ] && peak=$now
    sleep 0.05
  done
  wait $pid
  cat "$bench/run.out"; echo " temp $((peak - base))"
}
declare -A time peak entries verify private tempspace report
# Best of three rounds, five for the small tree, whose run is short enough
# for the machine's noise to matter; the two settings and the loop take
# turns.
for set in product small; do
  g=(); g1=(); gm=(); l=()
  rounds=3; [ $set = small ] && rounds=5
  for round in $(seq $rounds); do
    out=$(glean $set 0); g+=("$(printf '%s\n' "$out" | field seconds)")
    peak[$set]=$(printf '%s\n' "$out" | field peak); entries[$set]=$(printf '%s\n' "$out" | field entries)
    verify[$set]=$(printf '%s\n' "$out" | field verify)
    report[$set]=$(printf '%s\n' "$out" | field report)
    out=$(glean $set 1); g1+=("$(printf '%s\n' "$out" | field seconds)")
    peak[$set-1]=$(printf '%s\n' "$out" | field peak)
    l+=("$(loop $set | field seconds)")
    gm+=("$(glean $set m | field seconds)")
  done
  time[$set-masked]=$(printf '%s\n' "${gm[@]}" | best)
  time[$set-glean]=$(printf '%s\n' "${g[@]}" | best)
  time[$set-glean1]=$(printf '%s\n' "${g1[@]}" | best)
  time[$set-loop]=$(printf '%s\n' "${l[@]}" | best)
  time[$set-native]=$(native $set)
  time[$set-7z]=$(sevenzip $set 9)
  time[$set-7z5]=$(sevenzip $set 5)
done
# One log of 1 GiB: every core on one file, against one thread.
g=(); g1=()
for round in 1 2 3; do
  g+=("$(glean biglog 0 | field seconds)")
  g1+=("$(glean biglog 1 | field seconds)")
done
time[biglog-glean]=$(printf '%s\n' "${g[@]}" | best)
time[biglog-glean1]=$(printf '%s\n' "${g1[@]}" | best)
# 1 GiB of large files: peak private bytes and temporary space.
for threads in 0 1; do
  out=$(withtemp glean large $threads)
  private[large-$threads]=$(printf '%s\n' "$out" | field private)
  tempspace[large-$threads]=$(printf '%s\n' "$out" | field temp)
done
out=$(glean tenth 0)
peak[tenth]=$(printf '%s\n' "$out" | field peak); entries[tenth]=$(printf '%s\n' "$out" | field entries)
time[tenth-glean]=$(for round in 1 2 3; do glean tenth 0 | field seconds; done | best)
loopPeak=$(loop small | field peak)
idlePeak=$("$WINE" "$run" idle - - | field peak)

# The compressed data of every file, Glean's against the loop's; and every
# collected entry of the run on workers against the one-thread run's, its
# local header and data byte for byte.
compare() {
/usr/bin/python3 - "$bench" "$1" <<'PY'
import sys, zipfile
bench, against = sys.argv[1], sys.argv[2]
def raw(path, header):
    z = zipfile.ZipFile(path)
    data = open(path, 'rb').read()
    out = {}
    for info in z.infolist():
        if info.comment and not info.is_dir():
            start = info.header_offset + (0 if header else 30 + len(info.filename.encode('utf-8')))
            end = info.header_offset + 30 + len(info.filename.encode('utf-8')) + info.compress_size
            out[info.comment.decode('utf-8')] = data[start:end]
    return out
def inflated(path):
    z = zipfile.ZipFile(path)
    return {i.comment.decode('utf-8'): (i.CRC, z.read(i)) for i in z.infolist() if i.comment and not i.is_dir()}
for name in ('product', 'small'):
    if against == 'loop':
        # Files above a block are compressed in blocks: what the entries
        # inflate to is compared.
        glean, other = inflated(f'{bench}/{name}-glean-0.zip'), inflated(f'{bench}/{name}-loop.zip')
    else:
        glean, other = raw(f'{bench}/{name}-glean-0.zip', True), raw(f'{bench}/{name}-glean-1.zip', True)
        # The collected files: their comment is their path.
        other = {k: v for k, v in other.items() if '\\' in k and not k.endswith('.tmp')}
    common = [k for k in other if k in glean]
    if len(common) != len(other) or any(glean[k] != other[k] for k in common):
        print('differs'); sys.exit()
print('identical')
PY
}
same=$(compare loop)
sameThreads=$(compare threads)

# The registry export of 20,000 values against a minimal exporter.
key='Software\GleanBench\Values'
reg="$bench/values.reg"
{ printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\%s]\r\n' "$key"
  seq 1 20000 | sed 's/.*/"Value&"="Some setting text for value &"\r/'; } >"$reg"
"$WINE" reg delete 'HKCU\Software\GleanBench' /f >/dev/null 2>&1 || true
"$WINE" regedit /s "$(win "$reg")" >/dev/null 2>&1
e=$(for round in 1 2 3; do "$WINE" "$run" export "$key" "$(win "$bench/export.reg")" | field seconds; done | best)
m=$(for round in 1 2 3; do "$WINE" "$run" exportloop "$key" "$(win "$bench/minimal.reg")" | field seconds; done | best)
"$WINE" reg delete 'HKCU\Software\GleanBench' /f >/dev/null 2>&1 || true

kib() { awk -v a="$1" 'BEGIN { printf "%.1f", a / 1048576 }'; }
growth=$(awk -v a="${peak[small]}" -v b="${peak[tenth]}" -v x="${entries[small]}" -v y="${entries[tenth]}" \
  'BEGIN { printf "%.3f", (a - b) / (x - y) / 1024 }')
printf '%s build under Wine, %s, %s\n' "$GLEAN_ARCH" "$(date -u +%Y-%m-%d)" "$(nproc) cores"
printf '%-58s %10s %s\n' 'measure' 'figure' 'target'
printf '%-58s %10s %s\n' 'one 1 GiB text log: run on workers / Threads=1 (best of 3)' "$(ratio "${time[biglog-glean]}" "${time[biglog-glean1]}")" 'at most 0.60'
printf '%-58s %10s %s\n' 'product folder: run on workers / Threads=1 (best of 3)' "$(ratio "${time[product-glean]}" "${time[product-glean1]}")" 'at most 0.55'
printf '%-58s %10s %s\n' '20,000 small files: run on workers / Threads=1' "$(ratio "${time[small-glean]}" "${time[small-glean1]}")" 'at most 0.75'
printf '%-58s %10s %s\n' '1 GiB of large files: peak private bytes, workers (MiB)' "$(kib "${private[large-0]}")" "at most 80 above Threads=1 ($(kib "${private[large-1]}"))"
printf '%-58s %10s %s\n' '1 GiB of large files: peak temporary space, workers (MiB)' "$(kib "${tempspace[large-0]}")" "(Threads=1 $(kib "${tempspace[large-1]}"))"
printf '%-58s %10s %s\n' 'collected entries, workers against Threads=1' "$sameThreads" 'identical'
printf '%-58s %10s %s\n' 'product folder: Mask=1 and MaskCollectedFiles=1 / Mask=0' "$(ratio "${time[product-masked]}" "${time[product-glean]}")" 'at most 1.25'
printf '%-58s %10s %s\n' '20,000 small files: Mask=1, MaskCollectedFiles=1 / Mask=0' "$(ratio "${time[small-masked]}" "${time[small-glean]}")" 'at most 1.25'
printf '%-58s %10s %s\n' 'product folder: Threads=1 / plain loop' "$(ratio "${time[product-glean1]}" "${time[product-loop]}")" 'at most 1.10'
printf '%-58s %10s %s\n' '20,000 small files: Threads=1 / plain loop' "$(ratio "${time[small-glean1]}" "${time[small-loop]}")" 'at most 1.05'
printf '%-58s %10s %s\n' 'product folder: run on workers / plain loop' "$(ratio "${time[product-glean]}" "${time[product-loop]}")" '(reference)'
printf '%-58s %10s %s\n' '20,000 small files: run on workers / plain loop' "$(ratio "${time[small-glean]}" "${time[small-loop]}")" '(reference)'
printf '%-58s %10s %s\n' 'product folder: reading back / whole run' "$(ratio "${verify[product]}" "${time[product-glean]}")" 'at most 0.05'
printf '%-58s %10s %s\n' '20,000 small files: reading back / whole run' "$(ratio "${verify[small]}" "${time[small-glean]}")" 'at most 0.05'
printf '%-58s %10s %s\n' '20,000 small files: summary page and manifest / whole run' "$(ratio "${report[small]}" "${time[small-glean]}")" 'at most 0.01'
printf '%-58s %10s %s\n' 'compressed data, run against plain loop' "$same" 'identical'
printf '%-58s %10s %s\n' 'registry export of 20,000 values / minimal exporter' "$(ratio "$e" "$m")" 'at most 1.5'
printf '%-58s %10s %s\n' 'peak memory, 20,000 small files, on workers (MiB)' "$(kib "${peak[small]}")" "at most 16 above Threads=1 ($(kib "${peak[small-1]}"); plain loop $(kib "$loopPeak"), idle process $(kib "$idlePeak"))"
printf '%-58s %10s %s\n' 'peak memory above the idle process, run / plain loop' \
  "$(awk -v a="${peak[small]}" -v b="$loopPeak" -v c="$idlePeak" 'BEGIN { printf "%.2f", (a - c) / (b - c) }')" '(reference)'
printf '%-58s %10s %s\n' 'memory growth per archive entry (KiB)' "$growth" 'less than 0.5'
printf '%-58s %10s %s\n' '20,000 files / 2,000 files (time)' "$(ratio "${time[small-glean]}" "${time[tenth-glean]}")" 'at most 11'
for set in product small; do
  mib() { awk -v a="$1" 'BEGIN { printf "%.1f MiB", a / 1048576 }'; }
  printf '%-58s %10s %s\n' "$set: run / 7z -tzip -mx=5 -mmt=$(nproc)" "$(ratio "${time[$set-glean]}" "${time[$set-7z5]}")" \
    "sizes: run $(mib "$(size "$bench/$set-glean-0.zip")"), 7z -mx=5 $(mib "$(size "$bench/$set-7z5.zip")")"
  printf '%-58s %10s %s\n' "$set: run / 7z -tzip -mx=9 -mmt=$(nproc)" "$(ratio "${time[$set-glean]}" "${time[$set-7z]}")" \
    "7z -mx=9 $(mib "$(size "$bench/$set-7z9.zip")")"
  printf '%-58s %10s %s\n' "$set: run / native md5sum + zip -9" "$(ratio "${time[$set-glean]}" "${time[$set-native]}")" \
    "zip -9 $(mib "$(size "$bench/$set-native.zip")")"
done
printf 'seconds: product run %s, Threads=1 %s, loop %s, md5sum+zip %s, 7z %s; small run %s, Threads=1 %s, loop %s, md5sum+zip %s, 7z %s; export %s, minimal %s\n' \
  "${time[product-glean]}" "${time[product-glean1]}" "${time[product-loop]}" "${time[product-native]}" "${time[product-7z]}" \
  "${time[small-glean]}" "${time[small-glean1]}" "${time[small-loop]}" "${time[small-native]}" "${time[small-7z]}" "$e" "$m"
printf 'seconds: 1 GiB log on workers %s, Threads=1 %s; masked product %s, masked small %s\n' \
  "${time[biglog-glean]}" "${time[biglog-glean1]}" "${time[product-masked]}" "${time[small-masked]}"
rm -f "$bench"/*-glean-?.zip "$bench"/*-privacy-key.txt "$bench"/*-loop.zip "$bench"/*-native.zip "$bench"/*-7z?.zip "$bench/run.out"
