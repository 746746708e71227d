#!/bin/bash
# Builds the Debian package from the build folder, unpacks it into a temporary
# root, checks what it installs, and starts the installed program.
# Usage: package-test.sh BUILD-DIR
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'kill "$app" 2>/dev/null; rm -rf "$work"' EXIT
app=""

failures=0
passes=0
check() { # check DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@" >"$work/last.log" 2>&1; then
        echo "PASS   : $description"
        passes=$((passes + 1))
    else
        echo "FAIL!  : $description"
        sed 's/^/         /' "$work/last.log"
        failures=$((failures + 1))
    fi
}

if ! (cd "$work" && cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >cpack.log 2>&1); then
    echo "FAIL!  : cpack could not build the package"
    cat "$work/cpack.log"
    exit 1
fi
deb=$(find "$work/out" -maxdepth 1 -name 'quorrel_*.deb' | head -n1)
check "a .deb is built" test -n "$deb"
root=$work/root
check "it unpacks" dpkg -x "$deb" "$root"

id=org.example.Quorrel
check "the binary is installed" test -x "$root/usr/bin/quorrel"
check "the desktop entry is valid" desktop-file-validate "$root/usr/share/applications/$id.desktop"
check "the metainfo is valid" appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"
for size in 16 32 48 128 256; do
    check "the ${size}px icon is in the hicolor theme" \
        test -s "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
done
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libcurl4 fonts-dseg; do
    check "it depends on $needed" grep -q "$needed" <<<"$depends"
done
check "every library the binary needs is found" bash -c "! ldd '$root/usr/bin/quorrel' | grep -q 'not found'"

# The installed program starts and keeps running until asked to end.
mkdir -p "$work/config" "$work/data"
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    "$root/usr/bin/quorrel" >"$work/quorrel.log" 2>&1 &
app=$!
sleep 2
check "the installed program is running after two seconds" kill -0 "$app"
kill "$app" 2>/dev/null
wait "$app" 2>/dev/null
app=""

echo "Totals: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
