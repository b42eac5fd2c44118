#!/usr/bin/env bash
# What the desktop makes of received reports, asked through its own tools (xdg-mime), in folders
# of the test's own: as installed (component programs) and as tolbex registers them for a user at
# start. .TVZ and .CEF in either case are our types and open with tolbex "/mail" and the file.
# Only an installed tolbex, or one asked by TV_REGISTER_FILE_TYPES=1, changes the user's openers.
# Usage: desktop_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() {  # what, expected, got
    if [[ "$2" == "$3" ]]; then echo "ok: $1"; else echo "FAIL: $1: expected [$2], got [$3]"; failed=1; fi
}

unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID WAYLAND_DISPLAY DISPLAY
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CONFIG_DIRS=$work/etc-xdg
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS"
files="a.TVZ b.tvz c.CEF d.cef"
for f in $files; do : >"$work/$f"; done
transfer=application/x-torvane-transfer cef=application/x-torvane-cef
both="$transfer $transfer $cef $cef"

types() {
    local out=()
    for f in $files; do out+=("$(xdg-mime query filetype "$work/$f" 2>/dev/null)"); done
    echo "${out[*]}"
}
# The default entry of a type and its Exec line, looked up where the desktop looks.
opener() {
    local id dir
    id=$(xdg-mime query default "$1")
    for dir in "$XDG_DATA_HOME" ${XDG_DATA_DIRS//:/ }; do
        if [[ -n "$id" && -f "$dir/applications/$id" ]]; then
            echo "$id $(sed -n 's/^Exec=//p' "$dir/applications/$id")"
            return
        fi
    done
    echo "$id (no entry)"
}

# Installed into a prefix, the desktop's caches made by its tools.
prefix=$work/prefix
if ! cmake --install "$build" --prefix "$prefix" --component programs >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: install"
    exit 1
fi
export XDG_DATA_DIRS=$prefix/share
for entry in torvane-tolbex torvane-tolbex-mail; do
    check "$entry.desktop is valid" "" "$(desktop-file-validate "$prefix/share/applications/$entry.desktop" 2>&1)"
done
check "menu entry" "Exec=\"$prefix/bin/tolbex\" Icon=torvane-tolbex StartupWMClass=Calvera" \
      "$(grep -E '^(Exec|Icon|StartupWMClass)=' "$prefix/share/applications/torvane-tolbex.desktop" | tr '\n' ' ' |
         sed 's/ $//')"
check "icon" "yes" "$([[ -s $prefix/share/icons/hicolor/scalable/apps/torvane-tolbex.svg ]] && echo yes)"
# A prefix with a blank and a quote starts as well: the program is quoted in every Exec line.
odd="$work/odd \"prefix\""
cmake --install "$build" --prefix "$odd" --component programs >"$work/install.log" 2>&1 || cat "$work/install.log"
for entry in torvane-tolbex torvane-tolbex-mail; do
    check "$entry.desktop under an odd prefix is valid" "" \
          "$(desktop-file-validate "$odd/share/applications/$entry.desktop" 2>&1)"
done
check "program quoted" "Exec=\"$work/odd \\\\\"prefix\\\\\"/bin/tolbex\" /mail %f" \
      "$(grep '^Exec=' "$odd/share/applications/torvane-tolbex-mail.desktop")"
update-mime-database "$prefix/share/mime" && update-desktop-database "$prefix/share/applications"
check "installed types" "$both" "$(types)"
for t in $transfer $cef; do
    check "installed opener of $t" "torvane-tolbex-mail.desktop \"$prefix/bin/tolbex\" /mail %f" "$(opener "$t")"
done

# Nothing installed: tolbex registers the types for this user at start in a desktop session; a
# default the user chose for one of them stays.
export XDG_DATA_DIRS=$work/system
mkdir -p "$XDG_DATA_DIRS/applications"
printf '[Desktop Entry]\nType=Application\nName=Other\nExec=true %%f\nMimeType=%s;\n' "$cef" \
    >"$XDG_DATA_DIRS/applications/other.desktop"
printf '[Default Applications]\n%s=other.desktop\n' "$cef" >"$XDG_CONFIG_HOME/mimeapps.list"
check "none of our types before" "" "$(types | grep torvane)"
start_tolbex() {
    DISPLAY=:99 TORVANE_ROOT=$work/root "$build/tolbex/tolbex" /find RECORDING_ID X "$work/none" "$work/found" \
        >"$work/tolbex.log" 2>&1
}
mkdir -p "$work/root"
start_tolbex
check "a build's start leaves the user's desktop alone" "no" "$([[ -e $XDG_DATA_HOME ]] && echo yes || echo no)"
start_tolbex() {
    DISPLAY=:99 TORVANE_ROOT=$work/root TV_REGISTER_FILE_TYPES=1 "$build/tolbex/tolbex" /find RECORDING_ID X \
        "$work/none" "$work/found" >"$work/tolbex.log" 2>&1
}
start_tolbex
package=$XDG_DATA_HOME/mime/packages/torvane-reports.xml
check "types after the start" "$both" "$(types)"
check "opener of $transfer" "torvane-tolbex-mail.desktop $build/tolbex/tolbex /mail %f" "$(opener $transfer)"
check "the user's opener of $cef" "other.desktop true %f" "$(opener $cef)"
inode=$(stat -c %i "$package" 2>/dev/null)
start_tolbex
check "a second start leaves the files" "$inode" "$(stat -c %i "$package" 2>/dev/null)"
# Without a desktop session nothing is written.
rm -rf "$XDG_DATA_HOME"
TORVANE_ROOT=$work/root TV_REGISTER_FILE_TYPES=1 "$build/tolbex/tolbex" /find RECORDING_ID X "$work/none" \
    "$work/found" >/dev/null 2>"$work/asked.err"
check "no session, no files" "no" "$([[ -e $XDG_DATA_HOME ]] && echo yes || echo no)"
check "asked for, it says that nothing was registered" "yes" \
      "$(grep -q 'file types were not registered (no desktop session' "$work/asked.err" && echo yes)"

# The installed program where the desktop reads its installation: the installation's entry becomes
# the default of a type without one, and nothing of the user's is written beside it; once the
# installation is gone, no default leads to it.
rm -rf "$XDG_DATA_HOME" "$XDG_CONFIG_HOME/mimeapps.list"
export XDG_DATA_DIRS=$prefix/share
installed_start() {
    DISPLAY=:99 TORVANE_ROOT=$work/root "$prefix/bin/tolbex" /find RECORDING_ID X "$work/none" "$work/found" \
        >"$work/tolbex.log" 2>&1
}
installed_start
for t in $transfer $cef; do
    check "installed program's default for $t" "torvane-tolbex-mail.desktop \"$prefix/bin/tolbex\" /mail %f" \
          "$(opener "$t")"
done
check "no entry of the user's beside the installation's" "no" \
      "$([[ -e $XDG_DATA_HOME/applications/torvane-tolbex-mail.desktop ]] && echo yes || echo no)"
# An entry of the user's by the installation's name, left by an older tolbex, shadows the
# installation's: the installed program removes it when it starts a program that is missing, of a
# build folder or itself; one of another installation stays, and so does every other file.
user_entry=$XDG_DATA_HOME/applications/torvane-tolbex-mail.desktop
mkdir -p "$XDG_DATA_HOME/applications"
printf '[Desktop Entry]\nType=Application\nName=Other\nExec=true %%f\n' >"$XDG_DATA_HOME/applications/other.desktop"
for left in "yes $build/tolbex/tolbex" "yes /nonexistent/bin/tolbex" "yes $prefix/bin/tolbex" "no $odd/bin/tolbex"; do
    gone=${left%% *} program=${left#* }
    if [[ $program == "$odd"* ]]; then
        cp "$odd/share/applications/torvane-tolbex-mail.desktop" "$user_entry"
    else
        printf '[Desktop Entry]\nType=Application\nName=Old\nExec="%s" /mail %%f\nMimeType=%s;\n' "$program" \
            "$transfer" >"$user_entry"
    fi
    installed_start
    check "an entry of the user's for $program is removed" "$gone" "$([[ -e $user_entry ]] && echo no || echo yes)"
done
rm -f "$user_entry"
check "other entries stay" "yes" "$([[ -e $XDG_DATA_HOME/applications/other.desktop ]] && echo yes)"
check "the installation opens after an old entry" "torvane-tolbex-mail.desktop \"$prefix/bin/tolbex\" /mail %f" \
      "$(opener "$transfer")"
mv "$prefix/share/applications/torvane-tolbex-mail.desktop" "$work/removed.desktop"
update-desktop-database "$prefix/share/applications"
check "after the removal no default of ours" "" "$(xdg-mime query default $transfer | grep torvane)"
mv "$work/removed.desktop" "$prefix/share/applications/torvane-tolbex-mail.desktop"
# An installation the desktop does not read: the user's own entry, its program quoted.
export XDG_DATA_DIRS=$work/system
installed_start
check "user's entry for an unread installation" "torvane-tolbex-mail.desktop $prefix/bin/tolbex /mail %f" \
      "$(opener $transfer)"
[[ $failed -eq 0 ]] || cat "$work/tolbex.log"
exit $failed
