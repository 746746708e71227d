#!/bin/bash
# Builds the Debian package from the build folder, unpacks it into a temporary
# root, checks what it installs, and starts the installed program.
# Usage: package-test.sh BUILD-DIR
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}" >"$work/last.log" 2>&1; then
        echo "PASS   : $1"
    else
        echo "FAIL!  : $1" && sed 's/^/         /' "$work/last.log"
        failures=$((failures + 1))
    fi
}

(cd "$work" && cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >cpack.log 2>&1) ||
    { echo "FAIL!  : cpack could not build the package"; cat "$work/cpack.log"; exit 1; }
deb=$(find "$work/out" -maxdepth 1 -name 'quorrel_*.deb' | head -n1)
root=$work/root
check "the package unpacks" dpkg -x "$deb" "$root"
id=org.example.Quorrel
check "the binary is installed" test -x "$root/usr/bin/quorrel"
check "the desktop entry is valid" desktop-file-validate "$root/usr/share/applications/$id.desktop"
check "the metainfo is valid" appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"
for size in 16 32 48 128 256; do
    check "the ${size}px icon is installed" test -s "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
done
helper=/usr/libexec/quorrel/quorrel-tcpip policy=$root/usr/share/polkit-1/actions/$id.tcpip.policy
check "the TCP/IP helper is installed" test -x "$root$helper"
if command -v xmllint >/dev/null; then check "the polkit action is valid XML" xmllint --noout "$policy"; fi
check "the polkit action lets pkexec start the helper" grep -q "exec.path\">$helper<" "$policy"
check "the hooks are installed" test -x "$root/etc/NetworkManager/dispatcher.d/60-quorrel-tcpip" \
    -a -x "$root/etc/ppp/ip-up.d/quorrel-tcpip"
check "removing it puts back the TCP/IP values, and a purge takes /etc/quorrel" bash -c \
    "dpkg-deb -I '$deb' prerm | grep -q '$helper\" reset' && dpkg-deb -I '$deb' postrm | grep -q 'rm -rf /etc/quorrel'"
# Information tags stay: cpack's strip leaves the compiler's .comment note,
# and the program, built with _FORTIFY_SOURCE=2, makes no call whose size the
# compiler knows, so none of its calls has a checked twin.
check "lintian finds no error and no warning" lintian --fail-on error,warning "$deb"
for needed in libqt6widgets6 libcurl4 qt6-wayland fonts-dseg iproute2 pkexec; do
    check "it depends on $needed" grep -q "$needed" <<<"$(dpkg-deb -f "$deb" Depends)"
done
check "the fetch module is installed" bash -c "find '$root/usr/lib' -path '*/quorrel/libquorrel-fetch.so' | grep -q ."
# What the program itself links; Qt may bring a libcurl of its own.
needed=$(readelf -d "$root/usr/bin/quorrel" | grep '(NEEDED)')
check "the program links libcurl only through the fetch module" \
    bash -c "[ -n '$needed' ] && ! grep -q libcurl <<<'$needed'"
check "every library the binary needs is found" bash -c "! ldd '$root/usr/bin/quorrel' | grep -q 'not found'"
# A manual page that renders without a warning and names each of the words.
manual_names() { # manual_names PAGE WORD...
    [ $# -gt 1 ] || { echo "no words to look for"; return 1; }
    local shown
    if ! shown=$(MANWIDTH=80 man --warnings -E ascii -l "$root/usr/share/man/$1.gz" 2>"$work/man.err") ||
        [ -s "$work/man.err" ]; then
        cat "$work/man.err" && return 1
    fi
    for word in "${@:2}"; do grep -qF -- "$word" <<<"$shown" || { echo "no $word"; return 1; }; done
}
options=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/quorrel" --help 2>/dev/null | grep -o -- '--[a-z-]*')
commands=$("$root$helper" 2>&1 | sed -n 's/.*usage: quorrel-tcpip //p' | grep -o '\b[a-z]\+\b')
# shellcheck disable=SC2086 # one word each
check "quorrel(1) names every option of --help" manual_names man1/quorrel.1 $options
# shellcheck disable=SC2086
check "quorrel-tcpip(8) names every command of its usage" manual_names man8/quorrel-tcpip.8 $commands
# The installed program starts and keeps running until asked to end.
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work" "$root/usr/bin/quorrel" >/dev/null 2>&1 &
app=$!
sleep 2
check "the installed program is running after two seconds" kill "$app"
wait "$app" 2>/dev/null
[ "$failures" -eq 0 ]
