#!/usr/bin/env bash
# The real window under a virtual X server with a window manager, driven by a real pointer and
# keys: the pointer rests over each kind of picture (palette KMG with sub-images, 16-bit KMG,
# Targa, the grid of thumbnails; at 100 %, zoomed and fitted) while the tree moves under it
# through every entry, the find box selects as it is typed in, an edit is undone and redone, a
# patch archive is layered over the archive and taken off again, the archive is compared with
# another and its versions flipped, and another archive is loaded. The window must live through
# all of it and quit cleanly; in the sanitizer build any report ends it.
#   resting_pointer_test.sh VORLR MAKE_DEMO QAR   (VORLR_SHOTS=DIR: a screenshot there on failure)
set -uo pipefail
vorlr=$1 make_demo=$2 qar=$3
for tool in Xvfb openbox xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/deps.sh test installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
cleanup() {
    [ -n "${viewer_pid:-}" ] && kill "$viewer_pid" 2>/dev/null
    [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    [ -n "${VORLR_SHOTS:-}" ] && import -window root "$VORLR_SHOTS/resting-pointer-fail.png"
    echo "--- the viewer's output:"
    cat "$work/viewer.log"
    exit 1
}

"$make_demo" "$work/demo" >/dev/null || fail "make_demo"
cp "$work/demo/demo.qar" "$work/demo/other.qar"
# The patch: the whole archive again, with two pictures swapped for others of other kinds.
"$qar" cat "$work/demo/demo.qar" 'GFX\SKY.KMG' >"$work/sky.kmg" || fail "qar cat"
"$qar" cat "$work/demo/demo.qar" 'GFX\TGA\GREY.TGA' >"$work/grey.tga" || fail "qar cat"
"$qar" replace "$work/demo/demo.qar" 'GFX\ICONS.KMG' "$work/sky.kmg" -o "$work/half.qar" &&
    "$qar" replace "$work/half.qar" 'GFX\TGA\ALPHA.TGA' "$work/grey.tga" -o "$work/patch.qar" ||
    fail "qar replace"
printf '%s\r\n%s\r\n' "$work/demo/demo.qar" "$work/demo/other.qar" >"$work/demo/VORLR.LST"

Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
openbox >/dev/null 2>&1 &
wm_pid=$!
sleep 0.5

(cd "$work/demo" && exec env QT_QPA_PLATFORM=xcb "$vorlr" demo.qar) >"$work/viewer.log" 2>&1 &
viewer_pid=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --class vorlr | head -n1)
[ -n "$window" ] || fail "the window did not show"
xdotool windowactivate --sync "$window" 2>/dev/null
eval "$(xdotool getwindowgeometry --shell "$window")"  # X and Y: the window on the screen
sleep 1

# The titles of the windows shown besides the main one (a dialog left open swallows the keys
# that follow it).
others() {
    local w
    for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
        [ "$w" = "$window" ] || xdotool getwindowname "$w" 2>/dev/null
    done | grep -v '^$' | sort -u | paste -sd ';'
}
alive() {
    kill -0 "$viewer_pid" 2>/dev/null || fail "the window died $*"
    local open
    open=$(others)
    [ -z "$open" ] || fail "a window was open $* ($open)"
}
keys() { xdotool key --delay "${delay:-40}" "$@"; sleep 0.05; }
# Selects the first file whose stored name holds TEXT, as the find box does, and puts the
# focus in the tree.
select_entry() {
    keys ctrl+f
    xdotool type --delay 10 "$1"
    keys Escape ctrl+t
}
# The pointer at a point of the window (the Image page's pictures start at 233,76).
rest() { xdotool mousemove $((X + $1)) $((Y + $2)); sleep 0.1; }
# First to the neighbours and back (pictures beside pictures), then every node of the tree
# from the top, folders opened on the way (Right opens a folder, Down goes on), and back up
# again. The pointer stirs by a pixel between steps, as a resting hand does, so that the
# window knows what lies under it after each page change.
walk() {
    keys Up Down Down Up
    alive "beside a picture $*"
    keys Home
    local down=() up=() nudge=1
    for _ in $(seq 34); do
        down+=(key Right key Down mousemove_relative -- "$nudge" 0)
        up+=(key Up mousemove_relative -- "$nudge" 0)
        nudge=$((-nudge))
    done
    xdotool "${down[@]}"
    sleep 0.05
    alive "walking down $*"
    xdotool "${up[@]}"
    sleep 0.05
    alive "walking up $*"
}

# The sub-image right of the first one in GFX\ICONS.KMG, at 100 %, zoomed and fitted; a
# 16-bit KMG and Targa pictures with the pointer on their first rows. The zoom holds for each
# next picture until another is chosen.
select_entry 'GFX\ICONS'
rest 408 126
walk "over a palette KMG's sub-image at 100 %"
select_entry 'GFX\ICONS'
keys ctrl+equal ctrl+equal
walk "over a zoomed palette KMG"
select_entry 'TGA\ALPHA'
rest 250 100
walk "over a zoomed 32-bit Targa"
select_entry 'GFX\ICONS'
keys ctrl+9
walk "over a fitted palette KMG"
select_entry 'GFX\SKY'
keys ctrl+0
walk "over a 16-bit KMG"
select_entry 'TGA\MAPPED'
walk "over a colour-mapped Targa"

# The grid of GFX's pictures, the pointer on a thumbnail.
select_entry 'GFX\SKY'
keys Left ctrl+g
sleep 0.5
rest 260 120
walk "over the grid of thumbnails"

# Typing in the find box selects entry after entry under the resting pointer.
select_entry 'GFX\ICONS'
rest 408 126
keys ctrl+f
xdotool type --delay 60 'TGA\PACKED'
keys BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace Escape
alive "typing in the find box"

# An edit undone, redone and undone again while the pointer rests on the picture.
select_entry 'GFX\ICONS'
rest 408 126
keys Delete ctrl+z ctrl+shift+z ctrl+z
alive "undoing and redoing an edit"

# Picks FILE in the open dialog that KEYS bring up.
open_file() {
    keys "$@"
    local _
    for _ in $(seq 50); do [ "$(others)" = Open ] && break; sleep 0.1; done
    [ "$(others)" = Open ] || fail "no open dialog after $* ($(others))"
    xdotool type --delay 10 "$work/patch.qar"
    keys Return
    for _ in $(seq 100); do [ -z "$(others)" ] && break; sleep 0.1; done
    sleep 0.3
}

# The patch over the archive: the merged tree's pictures (the patch's, hiding the archive's)
# under the pointer, an edit of the top layer undone, and the layer taken off through the tree's
# menu (its sixth item).
select_entry 'GFX\ICONS'
rest 408 126
open_file ctrl+p
select_entry 'GFX\ICONS'
walk "over the merged view"
select_entry 'TGA\ALPHA'
rest 250 100
keys Delete ctrl+z ctrl+shift+z ctrl+z
alive "editing the top layer"
select_entry 'GFX\ICONS'
rest 408 126
keys Menu Down Down Down Down Down Down Return
sleep 0.3
alive "removing the layer"

# The archive against the patch: the two versions of a picture flipped under the pointer, the
# changed entries alone, and the comparison left.
open_file ctrl+d
select_entry 'GFX\ICONS'
rest 408 126
keys F6 F6 F6
walk "comparing, the other version shown"
keys ctrl+h
select_entry 'TGA\ALPHA'
keys F6 Up Down F6
alive "comparing, changes only"
keys ctrl+h ctrl+d
walk "after the comparison"

# Another archive from the archive list, then quit.
select_entry 'GFX\ICONS'
rest 408 126
keys ctrl+l Down
sleep 1
alive "loading another archive"
select_entry 'GFX\ICONS'
rest 408 126
walk "in the other archive"

# Quitting waits for the workers, and the sanitizer build checks for leaks on the way out: both
# take a while on a loaded machine.
xdotool windowactivate --sync "$window" 2>/dev/null
keys ctrl+q
for _ in $(seq 600); do kill -0 "$viewer_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$viewer_pid" 2>/dev/null && fail "the window did not quit (other windows: $(others))"
wait "$viewer_pid"
status=$?
viewer_pid=
[ "$status" -eq 0 ] || fail "the viewer exited with status $status"
if grep -qE 'runtime error|AddressSanitizer|LeakSanitizer|SEGV' "$work/viewer.log"; then
    fail "the sanitizers reported a fault"
fi
echo "PASS: the window lived through the resting pointer"
