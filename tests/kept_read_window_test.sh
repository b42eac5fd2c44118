#!/usr/bin/env bash
# A card at recording 65,000 is emptied by vond right after its read, so the read is the recording's
# only copy. Through the built tolbex and vond on a demo root, driven in tolbex's windows on a
# virtual display as an operator does (Recording > Ostrabel CF > Store in Archive): a store into an
# archive folder that cannot be written, and tolbex killed right after vond's read, each leave the
# read kept; the next start of tolbex offers it, and storing it from there gives the report, file
# for file, that an undisturbed intake of the same card gives.
# Usage: kept_read_window_test.sh BUILD_DIR. Runs in a mount namespace of its own (the archive is
# made read-only by a bind mount there; without root, in a user namespace too).
set -uo pipefail
if [[ -z ${TV_KEPT_READ_NS:-} ]]; then
    as_root=()
    ((EUID)) && as_root=(-r)
    TV_KEPT_READ_NS=1 exec unshare "${as_root[@]}" -m --propagation private bash "$0" "$@"
fi
build=$(cd "$1" && pwd)
tolbex=$build/tolbex/tolbex vond=$build/vond/vond tvdemo=$build/tools/demo/tvdemo
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
ok() { echo "ok: $*"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kept-read-window.XXXXXX")
root=$work/root
archive=$root/ANALYSER/ARCHIVE/STANDARD card=$root/ANALYSER/MEDIA/CFCARD kept=$root/user/intake
hive=$root/registry/HKLM.reg
mkdir -p "$root" "$work/home" "$work/tmp"
source "$(dirname "$0")/virtual_display.sh"
display_runtime=$work/run
mkdir -m 700 "$display_runtime"
gui=
finish() {
    [[ -n $gui ]] && kill -KILL "$gui" 2>/dev/null
    [[ -n ${display_pid:-} ]] && kill "$display_pid" 2>/dev/null
    wait
    mountpoint -q "$archive" 2>/dev/null && umount "$archive"
    rm -rf "$work"
}
trap finish EXIT
# The programs on the test's root only; tolbex on the display, never on the offscreen platform.
run=(env -u QT_QPA_PLATFORM TORVANE_ROOT="$root" HOME="$work/home" TMPDIR="$work/tmp" TZ=UTC)

"${run[@]}" "$tvdemo" >"$work/demo.out" 2>&1 || { cat "$work/demo.out"; fail "tvdemo"; exit 1; }
grep -qF "\"Install Path\"=\"$vond\"" "$hive" || { fail "tvdemo did not register $vond"; exit 1; }
start_display "$work" || exit 1

# A window the steps cannot go on without; the test ends when it does not come.
need() { type_into "$@" || { tail -20 "$work/gui.out"; exit 1; }; }
# The demo card written again at recording 65,000 (one read empties it).
new_card() {
    "${run[@]}" "$tvdemo" --media --recording 65000 >"$work/demo.out" 2>&1 ||
        { cat "$work/demo.out"; fail "tvdemo --media"; exit 1; }
}
card_recording() { od -An -tu2 -j1 -N2 "$card/config.dat" | tr -d ' '; }
# The reports' folders (not the hidden ones a store is made in).
reports() { find "$archive" -mindepth 1 -maxdepth 1 -type d -not -name '.*' -printf '%f\n' | sort; }
start_tolbex() {
    "${run[@]}" DISPLAY=":$display" XDG_RUNTIME_DIR="$display_runtime" "$tolbex" >>"$work/gui.out" 2>&1 &
    gui=$!
}
# Waits up to a minute for tolbex to end; its exit status.
ended() {
    local status
    for _ in $(seq 600); do kill -0 "$gui" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$gui" 2>/dev/null && { shown; fail "tolbex did not end"; kill -KILL "$gui"; }
    wait "$gui"
    status=$?
    gui=
    return $status
}
exit_tolbex() {
    need '^Calvera$' key alt+f key x
    ended || { tail -20 "$work/gui.out"; fail "tolbex ended with $?"; }
}
# Patient Details: the transfer file name (the 7th field; DEMO is the demo clinic's code, 000001 the
# serial, 8 its check digit) and OK.
details() {
    need '^Patient Details$' key --delay 20 Tab Tab Tab Tab Tab Tab key ctrl+a type --delay 5 DEMO0000018
    on_display xdotool key Return
}
# Waits for one new report beside `before`, listed in the archive's index (a minute at most); its
# folder name.
stored_after() {
    local before=$1 now
    for _ in $(seq 600); do
        now=$(comm -13 <(echo "$before") <(reports))
        [[ -n $now ]] && tr -d '\r' <"$archive/ARCHINFO.DAT" | grep -qxF "$now" && { echo "$now"; return 0; }
        sleep 0.1
    done
    return 1
}
# The card's read, kept: the card emptied, one folder in the kept reads with its read record.
expect_kept() {
    [[ $(card_recording) == 3 ]] && ok "$1: the card was emptied after the read" ||
        fail "$1: the card is at recording $(card_recording)"
    local folders
    folders=$(find "$kept" -mindepth 1 -maxdepth 1 -type d | wc -l)
    [[ $folders == 1 && -s $(find "$kept" -mindepth 2 -maxdepth 3 -iname rawecg1.dat | head -1) ]] &&
        grep -qs '^complete' "$kept"/*/ECGREAD.DAT "$kept"/*/files/ECGREAD.DAT &&
        ok "$1: the read is kept" || { ls -R "$kept"; fail "$1: the read is not kept"; }
}
# The next start offers the kept read; Store in Archive (its default), Patient Details, the archive.
store_kept() {  # case, whether the details were confirmed before
    local before
    before=$(reports)
    start_tolbex
    need '^Kept Recording$' key Return && ok "$1: the next start offers the kept read"
    if [[ $2 == confirmed ]]; then need '^Patient Details$' key Return; else details; fi
    need '^Store Ostrabel Recording$' key Return
    stored=$(stored_after "$before") || { shown; fail "$1: the kept read was not stored"; exit 1; }
    exit_tolbex
    [[ -z $(find "$kept" -mindepth 1 -maxdepth 1) ]] && ok "$1: nothing is kept once it is stored" ||
        fail "$1: the kept read stays after its store"
}
# A report's files as the undisturbed intake's: byte for byte, PATIENT.TXT without its first two
# lines (the report's own path and the time it was written).
same_report() {  # case, report folder name
    local a=$archive/$expected b=$archive/$2 f diffs=0
    [[ -s $a/rawecg1.dat && $(ls "$a") == $(ls "$b") ]] ||
        { fail "$1: the report holds $(ls "$b" | tr '\n' ' '), the undisturbed one $(ls "$a" | tr '\n' ' ')"; return; }
    for f in $(ls "$a"); do
        if [[ $f == PATIENT.TXT ]]; then
            cmp -s <(tail -n +3 "$a/$f") <(tail -n +3 "$b/$f")
        else
            cmp -s "$a/$f" "$b/$f"
        fi || { diffs=1; fail "$1: $f differs from the undisturbed intake's"; }
    done
    ((diffs)) || ok "$1: the report is the undisturbed intake's, file for file"
}

# The undisturbed intake, the report to compare with.
new_card
before=$(reports)
start_tolbex
need '^Calvera$' key alt+c key c key a
details
need '^Store Ostrabel Recording$' key Return
expected=$(stored_after "$before") || { shown; fail "the undisturbed intake stored nothing"; exit 1; }
exit_tolbex
[[ $(card_recording) == 3 && -z $(find "$kept" -mindepth 1 -maxdepth 1) ]] &&
    ok "an undisturbed intake stores the card and keeps nothing" || fail "the undisturbed intake left a kept read"

# a. The archive folder cannot be written: the store fails, tolbex says the read is kept.
new_card
mount --bind -o ro "$archive" "$archive" || { fail "cannot make the archive read-only"; exit 1; }
before=$(reports)
start_tolbex
need '^Calvera$' key alt+c key c key a
details
need '^Store Ostrabel Recording$' key Return
need '^Error While Storing Ostrabel recording$' key Return
need '^Ostrabel CF Recording Kept$' key Return && ok "a: tolbex says the recording is kept"
exit_tolbex
umount "$archive"
[[ $(reports) == "$before" ]] || fail "a: the read-only archive took a report"
expect_kept a
store_kept a confirmed
same_report a "$stored"

# b. tolbex killed as soon as vond's read is done: vond is run through a script that kills its caller
# then.
new_card
cat >"$work/vond-then-kill" <<EOF
#!/bin/sh
'$vond' "\$@"
rc=\$?
case "\$*" in *readecg*) kill -KILL \$PPID;; esac
exit \$rc
EOF
chmod 755 "$work/vond-then-kill"
sed -i "s|\"Install Path\"=\"$vond\"|\"Install Path\"=\"$work/vond-then-kill\"|" "$hive"
grep -qF "$work/vond-then-kill" "$hive" || { fail "b: vond's registration is not where it was"; exit 1; }
start_tolbex
need '^Calvera$' key alt+c key c key a
details
ended
[[ $? == 137 ]] && ok "b: tolbex was killed after the read" || fail "b: tolbex was not killed"
sed -i "s|\"Install Path\"=\"$work/vond-then-kill\"|\"Install Path\"=\"$vond\"|" "$hive"
expect_kept b
store_kept b unconfirmed
same_report b "$stored"

[[ $failed -eq 0 ]] && ok "a read kept after a failed store or a killed tolbex is offered and stored whole"
exit $failed
