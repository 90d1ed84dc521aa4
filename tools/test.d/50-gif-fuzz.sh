#!/usr/bin/env bash
# Fuzzes the GIF reader and decoder with libFuzzer (clang, ASan + UBSan) for a bounded time on a
# seed corpus of small generated files. Any crash, sanitizer report, leak, time-out, excessive
# allocation or uncaught exception fails the stage. GIF_FUZZ_SECONDS sets the time (default 90).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$top/build-fuzz-gif
seconds=${GIF_FUZZ_SECONDS:-90}

cmake -S "$top/tests/images/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"

# Seeds: small files of the shapes that matter (depths, interlace, transparency, animation with
# local tables, comments, loop block), made by an independent encoder.
seeds=$build/seeds
corpus=$build/corpus
rm -rf "$seeds" "$corpus"
mkdir -p "$seeds" "$corpus"
convert=/usr/bin/convert
"$convert" -size 16x12 gradient:red-blue +dither -colors 256 "$seeds/grad8.gif"
"$convert" -size 13x9 gradient:red-blue +dither -colors 16 "$seeds/grad4.gif"
"$convert" -size 17x5 pattern:checkerboard -colors 2 "$seeds/mono.gif"
"$convert" -seed 1 -size 20x20 plasma:fractal -colors 64 -interlace GIF "$seeds/interlaced.gif"
"$convert" -size 10x10 xc:white -fill red -draw "point 3,3" -transparent white "$seeds/transparent.gif"
"$convert" -delay 55 -loop 3 -size 8x8 xc:red -size 6x4 gradient:green-yellow -page +2+3 -size 5x5 xc:blue \
    +dither -colors 32 "$seeds/animated.gif"
"$convert" -size 4x4 xc:black -set comment "a comment" "$seeds/comment.gif"
printf 'GIF89a\001\000\001\000\000\000\000,\000\000\000\000\001\000\001\000\000\002\002D\001\000;' >"$seeds/tiny.gif"

# Findings go to the build directory; -merge is not used, so the seeds stay untouched.
"$build/fuzz_gif" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
    -max_len=8192 -dict="$top/tests/images/fuzz/gif.dict" -artifact_prefix="$build/" -print_final_stats=1 \
    "$corpus" "$seeds" 2>"$build/fuzz.log" || {
    tail -n 60 "$build/fuzz.log"
    echo "gif fuzz: finding (log and input in $build)" >&2
    exit 1
}
grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$build/fuzz.log" || true
echo "gif fuzz: no finding in ${seconds}s"
