#!/usr/bin/env bash
# The workstation's Debian package, made by cpack in a build of the programs without sanitizers
# (a sanitized program needs its runtime's options to run at all): it holds every file a
# workstation runs, names its run-time packages, runs no maintainer script but the desktop's
# triggers, and its programs run from where it was unpacked. Usage: package_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

rm -f "$build"/torvane_*.deb
if ! (cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
deb=$(ls "$build"/torvane_*.deb)
dpkg-deb -c "$deb" >"$work/contents"
for f in usr/bin/tolbex usr/bin/vond usr/bin/KELMOTH usr/bin/BRACKMOR usr/bin/resources/szip usr/bin/letter_helper.py \
         etc/pam.d/tolbex-sign usr/share/applications/torvane-tolbex.desktop \
         usr/share/applications/torvane-tolbex-mail.desktop usr/share/mime/packages/torvane-reports.xml \
         usr/share/icons/hicolor/scalable/apps/torvane-tolbex.svg; do
    grep -q " \./$f\$" "$work/contents" || fail "the package has no /$f"
done
grep -q '^drwxr-xr-x root/root .* \./etc/torvane/trust/$' "$work/contents" || fail "no /etc/torvane/trust of root's"
grep -q ' \./etc/torvane/trust/.' "$work/contents" && fail "/etc/torvane/trust is not empty"
grep -v ' root/root ' "$work/contents" && fail "a file of the package is not root's"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libqt6printsupport6 libssl3 libgmime-3.0-0 libpam0g libnettle8 alsa-utils shared-mime-info; do
    [[ ", $depends, " == *", $p, "* ]] || fail "Depends lacks $p: $depends"
done
[[ $(dpkg-deb -f "$deb" Recommends) == *libreoffice-writer* ]] || fail "LibreOffice Writer is not recommended"
mkdir "$work/control"
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm config; do
    [[ -e $work/control/$script ]] && fail "the package runs a $script script"
done
grep -vq '^activate-noawait /usr/share/' "$work/control/triggers" && fail "a trigger beyond the desktop's"

# Unpacked into a root of its own, the programs find what they need and run.
dpkg-deb -x "$deb" "$work/root"
export TORVANE_ROOT=$work/tv
mkdir -p "$TORVANE_ROOT"
"$build/tools/demo/tvdemo" >"$work/tvdemo.log" 2>&1 || { cat "$work/tvdemo.log"; fail "tvdemo"; }
group=$(dirname "$(find "$TORVANE_ROOT" -name ARCHDIR.DAT | head -1)")
(cd "$work" && "$work/root/usr/bin/BRACKMOR" "$group" </dev/null >"$work/brackmor.out" 2>&1)
code=$?
[[ $code -eq 0 ]] || { tail "$work/brackmor.out"; fail "BRACKMOR ended with $code"; }
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/root/usr/bin/tolbex" /find RECORDING_ID X "$group" \
    "$work/found" >"$work/tolbex.out" 2>&1
code=$?
[[ $code -eq 0 && -f $work/found ]] || { cat "$work/tolbex.out"; fail "tolbex /find ended with $code"; }
[[ $(sed -n 's/^Exec=//p' "$work/root/usr/share/applications/torvane-tolbex-mail.desktop") == "/usr/bin/tolbex /mail %f" ]] ||
    fail "the opener does not start /usr/bin/tolbex /mail"
[[ $failed -eq 0 ]] && echo "ok: $(basename "$deb")"
exit $failed
