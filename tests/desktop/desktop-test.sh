#!/bin/bash
# The real quorrel binary on a real X server (Xvfb) with a real XEmbed tray host
# (trayer), driven with xdotool the way a person would use it.
# Usage: desktop-test.sh QUORREL-BINARY
set -u
binary=$1
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "PASS   : $1"; else echo "FAIL!  : $1"; failures=$((failures + 1)); fi
}
eventually() { # polls a condition for up to five seconds
    for _ in $(seq 50); do "$@" && return 0; sleep 0.1; done
    return 1
}

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
eventually test -s "$work/display" || { echo "SKIP   : no Xvfb: $(cat "$work/xvfb.log")"; exit 77; }
export DISPLAY=:$(cat "$work/display")
# No session bus: the tray is the XEmbed panel below, whatever the machine runs.
unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM WAYLAND_DISPLAY
eventually xwininfo -root >/dev/null 2>&1 || { echo "FAIL!  : Xvfb accepts no client"; exit 1; }
# On a busy machine the panel's first connection is now and then refused; it
# gets three tries.
start_tray_host() {
    trayer --edge top --align right --widthtype request --height 24 --transparent false \
        >>"$work/trayer.log" 2>&1 &
    pids+=($!)
    eventually xdotool search --class trayer >/dev/null
}
start_tray_host || start_tray_host || start_tray_host ||
    { echo "FAIL!  : no tray host: $(cat "$work/trayer.log")"; exit 1; }

main_window() { xdotool search --onlyvisible --name '^Quorrel$' 2>/dev/null | head -n1; }
is_shown() { [ -n "$(main_window)" ]; }
is_hidden() { [ -z "$(main_window)" ]; }
# The icon is a 22x22 window of quorrel's embedded in the tray panel.
tray_icon() { xwininfo -root -tree | grep -E '"quorrel" "Quorrel"\)  22x22\+0\+0' | awk '{print $1}'; }
has_icons() { [ "$(tray_icon | grep -c .)" -eq "$1" ]; }
has_prompt() { xdotool search --onlyvisible --name '^Quorrel Settings$' >/dev/null 2>&1; }
has_history() { xdotool search --onlyvisible --name '^Quorrel History$' >/dev/null 2>&1; }
has_menu() { xwininfo -root -tree | grep '"quorrel" "Quorrel"' | grep -v -e 380x216 -e '22x22+0+0' | grep -q .; }
click_tray_button() { xdotool mousemove --window "$(main_window)" 335 169 click 1; }
icon_click() { xdotool mousemove --window "$(tray_icon | head -n1)" 11 11 click "$@"; }
centred() { xdotool getwindowgeometry "$(main_window)" | awk '/Position/ { split($2, at, ",") }
    /Geometry/ { split($2, size, "x") } END { exit !(at[1] == int((1024 - size[1]) / 2) && at[2] == int((768 - size[2]) / 2)) }'; }
ended() { ! kill -0 "$app" 2>/dev/null; }

# The usual limit of a desktop session; the flood below goes beyond it.
ulimit -Sn 1024
# One host that refuses at once: no attempt leaves the machine.
mkdir -p "$work/config/Quorrel" && printf '[options]\nhost0=127.0.0.1:1\n' >"$work/config/Quorrel/Quorrel.ini"
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config HOME=$work
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The command line is answered with no display at all: over SSH, in a script.
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY "$binary" "$@"; }
check "--version prints the version without a display" test "$(nodisplay --version)" = "Quorrel 2.5"
check "--help lists the options without a display" eval 'nodisplay --help | grep -q -- --tray'
check "a wrong option ends with status 1 and says so" eval \
    'nodisplay --strat 2>&1 | grep -q "Unknown option .strat."; [ "${PIPESTATUS[0]}" -eq 1 ]'
"$binary" >"$work/quorrel.log" 2>&1 &
app=$!
pids+=($app)
check "the window is shown at start-up" eventually is_shown
check "the window is centred" centred
click_tray_button
check "Tray hides the window behind one icon" eventually has_icons 1
icon_click 1
sleep 0.5
check "a single click leaves the window hidden" is_hidden
icon_click --repeat 2 --delay 80 1
check "a double-click on the icon shows the window" eventually is_shown
no_menu() { ! has_menu; }
xdotool mousemove --window "$(tray_icon | head -n1)" 11 11 mousedown 3
sleep 0.5
check "the right button's press alone opens no menu" no_menu
xdotool mouseup 3
check "its release opens the menu" eventually has_menu
xdotool key Down Down Down Return # "Open Quorrel"
check "Open Quorrel removes the icon" eventually has_icons 0
click_tray_button
eventually has_icons 1
icon_click 3
eventually has_menu
xdotool key Down Down Down Down Return # "Close Quorrel"
check "Close Quorrel asks to save" eventually has_prompt
xdotool key --window "$(xdotool search --onlyvisible --name '^Quorrel Settings$' | head -n1)" alt+y
check "Yes ends the program" eventually ended
wait "$app"
check "with status 0" test $? -eq 0
check "and the settings saved" grep -q '^interval=' "$work/config/Quorrel/Quorrel.ini"
check "and the icon gone" eventually has_icons 0

"$binary" --tray >>"$work/quorrel.log" 2>&1 &
app=$!
pids+=($app)
check "--tray starts behind the icon" eventually has_icons 1
check "with the window hidden" is_hidden
timeout 10 "$binary" --start >>"$work/quorrel.log" 2>&1
check "a second launch ends with status 0" test $? -eq 0
check "and brings the window back" eventually is_shown
check "and starts the first one's cycle" eventually grep -q "127.0.0.1:1.failed.connection refused" \
    "$work/.local/state/quorrel/attempts.log"
timeout 10 "$binary" --history >>"$work/quorrel.log" 2>&1
check "--history beside it ends with status 0" test $? -eq 0
check "and the running Quorrel shows its History window" eventually has_history
# The window is gone on the press: the release meets no window, which X reports.
xdotool key --window "$(xdotool search --onlyvisible --name '^Quorrel History$' | head -n1)" Escape 2>/dev/null
check "which Escape closes" eventually eval '! has_history'

# A flood on the socket: a request of 1 MB, one never finished, 2,000 idle
# connections, more than the usual limit of 1,024 open files. The running
# Quorrel still hears a real launch.
click_tray_button
eventually is_hidden
python3 -c '
import resource, socket, sys, time
hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
resource.setrlimit(resource.RLIMIT_NOFILE, (min(4096, hard), hard))
def peer():
    s = socket.socket(socket.AF_UNIX)
    s.connect(sys.argv[1])
    return s
big = peer()
big.setblocking(False)
try:
    big.send(b"x" * 1000000)
except BlockingIOError:
    pass
peer().send(b"sta")
idle = [peer() for _ in range(2000)]
print("flooding", flush=True)
time.sleep(30)
' "$(ls "$XDG_RUNTIME_DIR"/quorrel-* | grep -v '\.lock$')" >"$work/flood" 2>&1 &
pids+=($!)
eventually grep -qs flooding "$work/flood"
timeout 10 "$binary" >>"$work/quorrel.log" 2>&1
check "after a flood on its socket a second launch ends with status 0" test $? -eq 0
check "and brings the window back" eventually is_shown

# A runtime folder that others may write to is not used: each start runs alone.
mkdir -m 777 "$work/open-run"
XDG_RUNTIME_DIR=$work/open-run "$binary" --tray >>"$work/quorrel.log" 2>&1 &
alone=$!
pids+=($alone)
sleep 2
check "with a runtime folder open to all, a start runs on its own" kill -0 "$alone"
check "and leaves nothing in that folder" test -z "$(ls -A "$work/open-run")"
kill "$alone"

# Another user's socket where this user's belongs (as root, the test can be
# that other user): it is told nothing, and the launch runs on its own.
foreign=$XDG_RUNTIME_DIR/quorrel-$(printf %s "$work/foreign/Quorrel/Quorrel.ini" | sha256sum | cut -c1-16)
python3 -c '
import os, socket, sys
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
os.setuid(65534)
s.listen(8)
print("listening", flush=True)
while True:
    peer, _ = s.accept()
    print("told" if peer.recv(64) else "silent", flush=True)
' "$foreign" >"$work/foreign.log" 2>&1 &
pids+=($!)
eventually grep -qs listening "$work/foreign.log"
XDG_CONFIG_HOME=$work/foreign "$binary" --tray --start >>"$work/quorrel.log" 2>&1 &
victim=$!
pids+=($victim)
sleep 2
check "another user's socket in its place is told nothing" eval '! grep -q told "$work/foreign.log"'
check "and the launch runs on its own" kill -0 "$victim"
kill "$victim"

# Two launches at the same moment, 20 times: one Quorrel each time.
pair_once() {
    XDG_CONFIG_HOME=$work/pair "$binary" --tray >>"$work/pair.log" 2>&1 &
    local first=$!
    XDG_CONFIG_HOME=$work/pair "$binary" --tray >>"$work/pair.log" 2>&1 &
    local second=$!
    one_ended() { ! kill -0 "$first" 2>/dev/null || ! kill -0 "$second" 2>/dev/null; }
    eventually one_ended
    sleep 0.3
    local running=0
    kill -0 "$first" 2>/dev/null && running=$((running + 1))
    kill -0 "$second" 2>/dev/null && running=$((running + 1))
    kill "$first" "$second" 2>/dev/null
    wait "$first" "$second" 2>/dev/null
    [ "$running" -eq 1 ]
}
single=0
for _ in $(seq 20); do pair_once && single=$((single + 1)); done
check "two launches together leave one Quorrel running, 20 times out of 20" test "$single" -eq 20

kill "$app"
eventually ended

# A host that accepts the connection and never answers: Stop ends the fetch
# in the loaded fetch module at once, long before its 15-second time-out.
python3 -c 'import socket, sys, time
server = socket.create_server(("127.0.0.1", 0))
print(server.getsockname()[1], flush=True)
connection = server.accept()
print("accepted", flush=True)
time.sleep(60)' >"$work/hanging" 2>&1 &
pids+=($!)
eventually test -s "$work/hanging"
printf '[options]\nhost0=127.0.0.1:%s/hang\n' "$(head -n1 "$work/hanging")" >"$work/config/Quorrel/Quorrel.ini"
"$binary" --start >>"$work/quorrel.log" 2>&1 &
app=$!
pids+=($app)
eventually is_shown
check "Start fetches from the hanging host" eventually grep -q accepted "$work/hanging"
xdotool mousemove --window "$(main_window)" 335 141 click 1 # Stop
check "Stop ends its fetch at once" eventually grep -q "/hang.failed.stopped" \
    "$work/.local/state/quorrel/attempts.log"
[ "$failures" -eq 0 ]
