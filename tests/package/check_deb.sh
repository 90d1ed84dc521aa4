#!/usr/bin/env bash
# Builds the Debian package of this build tree and checks it from the outside with dpkg's own
# tools: exactly the expected files, the control fields, Depends naming the libraries the programs
# load (each of them an installable package here), a launcher that desktop-file-validate accepts,
# and `tobrel --version` answering from an unpacked copy. Exit 77: a tool is missing.
# Usage: check_deb.sh SOURCE-DIR BUILD-DIR WORK-DIR
set -euo pipefail
source_dir=$1 build=$2 work=$3
for tool in dpkg-deb dpkg-shlibdeps desktop-file-validate; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (tools/install-deps)"; exit 77; }
done
rm -rf "$work" && mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

deb=$("$source_dir/tools/package-deb" "$build" "$work")
echo "built $deb"
version=$("$build/src/app/tobrel" --version | awk '{ print $2 }')
[[ $(basename "$deb") == "tobrel_${version}_$(dpkg --print-architecture).deb" ]] || fail "package name $(basename "$deb")"

# Files: exactly these, nothing of the build (libraries, headers, tests) besides.
expected="./usr/bin/tobrel
./usr/bin/tobrel-peer
./usr/share/applications/tobrel.desktop
./usr/share/doc/tobrel/README.md
./usr/share/icons/hicolor/128x128/apps/tobrel.png
./usr/share/tobrel/help/tobrel.html"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
[[ $files == "$expected" ]] || fail "file list:"$'\n'"$files"
dpkg-deb -c "$deb" | awk '$6 ~ /usr\/bin\/tobrel/ && $1 != "-rwxr-xr-x" { bad = 1 } END { exit bad }' \
    || fail "programs not executable by all"
dpkg-deb -c "$deb" | awk '$2 != "root/root" { bad = 1 } END { exit bad }' || fail "files not owned by root"

# Control fields.
[[ $(dpkg-deb -f "$deb" Package) == tobrel ]] || fail "Package"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "Version $(dpkg-deb -f "$deb" Version)"
[[ $(dpkg-deb -f "$deb" Architecture) == $(dpkg --print-architecture) ]] || fail "Architecture"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/[[:space:]]//g' | grep -v '^$')
for needed in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libportaudio2 libgsm1 \
    qt6-qpa-plugins; do
    grep -Fqx "$needed" <<<"$names" || fail "Depends lacks $needed"
done
while read -r name; do
    dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed" \
        || apt-cache show "$name" >/dev/null 2>&1 || fail "Depends names $name, which no archive here has"
done <<<"$names"

# The unpacked tree: the launcher and the program.
dpkg-deb -x "$deb" "$work/unpacked"
desktop-file-validate "$work/unpacked/usr/share/applications/tobrel.desktop" || fail "desktop entry"
grep -qx 'Exec=tobrel' "$work/unpacked/usr/share/applications/tobrel.desktop" || fail "launcher runs another program"
grep -qx 'Icon=tobrel' "$work/unpacked/usr/share/applications/tobrel.desktop" || fail "launcher icon"
answer=$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/unpacked/usr/bin/tobrel" --version) || fail "tobrel --version failed"
[[ $answer == "tobrel $version" ]] || fail "tobrel --version said '$answer'"
"$work/unpacked/usr/bin/tobrel-peer" --help >/dev/null || fail "tobrel-peer --help failed"
# The launcher's command starts the window (offscreen here) and keeps it up until told to stop.
command=$(sed -n 's/^Exec=//p' "$work/unpacked/usr/share/applications/tobrel.desktop")
# Its settings file (beside the program, writable here) keeps it off the default port that other
# tests may be using.
printf '[Voxhall Settings]\nPort=%d\n' $((50000 + RANDOM % 10000)) >"$work/unpacked/usr/bin/tobrel.dat"
PATH=$work/unpacked/usr/bin:$PATH QT_QPA_PLATFORM=offscreen $command >"$work/window.log" 2>&1 &
window=$!
sleep 3
if kill -0 "$window" 2>/dev/null; then
    kill -TERM "$window"
    wait "$window" || true
    # Its start-up saves the settings: proof that the window came up, not just the process.
    grep -q '^Codec=1' "$work/unpacked/usr/bin/tobrel.dat" || fail "the window's start-up did not run"
else
    fail "the launcher's window did not stay up: $(cat "$work/window.log")"
fi

[[ $failures -eq 0 ]] && echo "package checked: $deb"
exit $((failures > 0))
