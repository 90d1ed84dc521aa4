#!/usr/bin/env bash
# Fuzzes the GIF reader and decoder with libFuzzer (clang, ASan + UBSan) for a bounded time on a
# seed corpus of small generated files. Any crash, sanitizer report, leak, time-out, excessive
# allocation or uncaught exception fails the stage. GIF_FUZZ_SECONDS sets the time (default 90).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$top/build-fuzz-gif
seconds=${GIF_FUZZ_SECONDS:-90}

"$top/tools/fuzz" build "$top/tests/images/fuzz" "$build"

# Seeds: small files of the shapes that matter (depths, interlace, transparency, animation with
# local tables, comments, loop block), made by an independent encoder.
seeds=$build/seeds
"$top/tools/fuzz" fresh "$build"
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

"$top/tools/fuzz" run gif "$build" fuzz_gif "$seconds" -malloc_limit_mb=1024 -max_len=8192 \
    -dict="$top/tests/images/fuzz/gif.dict"
