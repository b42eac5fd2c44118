# Sourced by the tests that drive tolbex's windows as an operator does: a virtual display (Xvfb) and
# the keyboard and window lookups on it (xdotool). The caller defines fail, sets display_runtime (a
# folder of mode 700 for the display's clients) and may set display_run to the command that runs a
# program as its operator (e.g. runuser); every wait is for a window, bounded.
display_run=()

# Starts the display; sets display (its number) and display_pid (the server's own process).
start_display() {  # folder for the server's fifo and log
    command -v Xvfb >/dev/null && command -v xdotool >/dev/null ||
        { fail "Xvfb or xdotool is not installed (scripts/install-deps installs them)"; return 1; }
    mkdir -p -m 1777 /tmp/.X11-unix
    mkfifo "$1/display"
    "${display_run[@]}" Xvfb -displayfd 1 -nolisten tcp -screen 0 1280x1024x24 >"$1/display" 2>"$1/xvfb.log" &
    local child
    display_pid=$!
    read -r -t 30 display <"$1/display" || { cat "$1/xvfb.log"; fail "no virtual display"; return 1; }
    # Down the one line of processes from the job to the server: a runner does not pass a signal on.
    while child=$(pgrep -P "$display_pid" | head -1) && [[ -n $child ]]; do display_pid=$child; done
}
on_display() { "${display_run[@]}" env DISPLAY=":$display" XDG_RUNTIME_DIR="$display_runtime" "$@"; }
# The first visible window whose title matches, once there is one (a minute at most).
window() { on_display timeout 60 xdotool search --sync --onlyvisible --name "$1" | head -1; }
# The titles of the visible windows, for a failure's output.
shown() { for w in $(on_display xdotool search --onlyvisible --name .); do on_display xdotool getwindowname "$w"; done; }
# Waits for the window of this title, gives it the keyboard and runs xdotool's commands on it.
type_into() {  # window title, xdotool commands...
    local w
    w=$(window "$1") && [[ -n $w ]] || { shown; fail "no window \"$1\""; return 1; }
    on_display xdotool windowfocus --sync "$w" && shift && on_display xdotool "$@"
}
