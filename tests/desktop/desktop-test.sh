#!/bin/bash
# The real quorrel binary on a real X server (Xvfb) with a real XEmbed tray host
# (trayer), driven with xdotool the way a person would use it.
# Usage: desktop-test.sh QUORREL-BINARY OUTPUT-DIR
set -u
binary=$1
outdir=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$outdir"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
passes=0
check() { # check DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@"; then
        echo "PASS   : $description"
        passes=$((passes + 1))
    else
        echo "FAIL!  : $description"
        failures=$((failures + 1))
    fi
}
# Polls a condition for up to five seconds.
eventually() {
    for _ in $(seq 50); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# --- the X server and the tray host ---
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
if ! eventually test -s "$work/display"; then
    echo "SKIP   : Xvfb could not start: $(cat "$work/xvfb.log")"
    exit 77
fi
export DISPLAY=:$(cat "$work/display")
# No session bus: the tray is the XEmbed panel below, whatever the machine runs.
unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM WAYLAND_DISPLAY
trayer --edge top --align right --widthtype request --height 24 --transparent false \
    >"$work/trayer.log" 2>&1 &
pids+=($!)
eventually xdotool search --class trayer >/dev/null || {
    echo "FAIL!  : the tray host did not start: $(cat "$work/trayer.log")"
    exit 1
}

# --- helpers that look at the screen ---
main_window() { xdotool search --onlyvisible --name '^Quorrel$' 2>/dev/null | head -n1; }
is_shown() { [ -n "$(main_window)" ]; }
is_hidden() { [ -z "$(main_window)" ]; }
# The icon is a 22x22 window of quorrel's embedded in the tray panel.
tray_icons() { xwininfo -root -tree | grep -E '"quorrel" "Quorrel"\)  22x22\+0\+0' | awk '{print $1}'; }
icon_count() { tray_icons | grep -c . ; }
has_icons() { [ "$(icon_count)" -eq "$1" ]; }
prompt_window() { xdotool search --onlyvisible --name '^Quorrel Settings$' 2>/dev/null | head -n1; }
has_prompt() { [ -n "$(prompt_window)" ]; }
no_prompt() { [ -z "$(prompt_window)" ]; }
# The popup menu: a visible window of quorrel's that is neither the main window
# nor the icon.
menu_window() {
    xwininfo -root -tree | grep '"quorrel" "Quorrel"' | grep -v '380x216' | grep -v '22x22+0+0' |
        awk '{print $1}' | head -n1
}
has_menu() { [ -n "$(menu_window)" ] && xwininfo -id "$(menu_window)" | grep -q 'IsViewable'; }
click_tray_button() { xdotool mousemove --window "$(main_window)" 335 169 click 1; }
icon_click() { xdotool mousemove --window "$(tray_icons | head -n1)" 11 11 click "$@"; }
process_ended() { ! kill -0 "$app" 2>/dev/null; }

start_quorrel() {
    XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" HOME="$work/home" \
        "$binary" >>"$work/quorrel.log" 2>&1 &
    app=$!
    pids+=($app)
    eventually is_shown
}
exit_status() {
    wait "$app"
    echo $?
}
centred() {
    local geometry
    geometry=$(xdotool getwindowgeometry "$(main_window)")
    echo "$geometry" | grep -q 'Position: 322,276' && echo "$geometry" | grep -q 'Geometry: 380x216'
}
settings_file() { find "$work/config" -name '*.ini' 2>/dev/null | head -n1; }
settings_saved() { [ -n "$(settings_file)" ] && grep -q 'host0' "$(settings_file)"; }

mkdir -p "$work/home"

# --- hide to the tray and come back ---
check "the window is shown at start-up" start_quorrel
check "the window is centred and 380x216" centred
click_tray_button
check "Tray hides the window" eventually is_hidden
check "Tray puts one icon into the tray" eventually has_icons 1
icon_click 1
sleep 0.5
check "a single click leaves the window hidden" is_hidden
icon_click --repeat 2 --delay 80 1
check "a double-click on the icon shows the window" eventually is_shown
check "the icon stays after a double-click" has_icons 1
click_tray_button
check "Tray again hides the window" eventually is_hidden
check "and still leaves one icon" has_icons 1

# --- the tray menu: the right button's release opens it ---
no_menu() { ! has_menu; }
xdotool mousemove --window "$(tray_icons | head -n1)" 11 11 mousedown 3
sleep 0.5
check "the right button's press alone opens no menu" no_menu
xdotool mouseup 3
check "its release opens the menu" eventually has_menu
menu=$(menu_window)
import -window root -crop 260x140+764+0 "$outdir/tray-menu.png" 2>/dev/null
xdotool key Down Down Down Return # "Open Quorrel"
check "Open Quorrel shows the window" eventually is_shown
check "Open Quorrel removes the icon" eventually has_icons 0
[ -n "$menu" ] || echo "(no menu window was found)"

# --- Close Quorrel from the tray: the save prompt, then the end ---
click_tray_button
eventually has_icons 1
icon_click 3
eventually has_menu
xdotool key Down Down Down Down Return # "Close Quorrel"
check "Close Quorrel asks to save" eventually has_prompt
check "the window stays hidden behind the prompt" is_hidden
xdotool key --window "$(prompt_window)" alt+y
check "the program ends" eventually process_ended
check "it exits with status 0" test "$(exit_status)" -eq 0
check "Yes wrote the settings file" settings_saved
check "the icon is gone" eventually has_icons 0

# --- the title bar's close box ends at once, without the prompt ---
saved_before=$(cat "$(settings_file)" 2>/dev/null)
check "a second start shows the window" start_quorrel
/usr/bin/python3 "$here/send-close.py" "$(main_window)"
check "the close box ends the program" eventually process_ended
check "without the prompt" no_prompt
check "with status 0" test "$(exit_status)" -eq 0
check "and leaves the settings as they were" test "$(cat "$(settings_file)" 2>/dev/null)" = "$saved_before"

echo "Totals: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
