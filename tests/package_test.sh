#!/usr/bin/env bash
# The workstation's Debian package, made by cpack in a build of the programs without sanitizers
# (a sanitized program needs its runtime's options to run at all): it holds every file a
# workstation runs where Debian keeps such files, stripped, with a debug package beside it; lintian
# finds no error in it; it names its run-time packages; everything under /etc is a conffile.
# Then it is installed with dpkg into a throw-away copy of this machine (a mount namespace whose
# /usr, /etc and /var are overlays on the real ones, so nothing of the machine changes), where an
# ordinary account reads a recorder card, packs it and stores the packed file through the
# installed programs alone, and signs a report with the site's own authority; a reinstall keeps the administrator's edit of the PAM service, and a
# purge leaves nothing. Usage: package_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

rm -f "$build"/torvane_*.deb "$build"/torvane-dbgsym_*.ddeb
if ! (cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
deb=$(ls "$build"/torvane_*.deb)
dpkg-deb -c "$deb" >"$work/contents"
for f in usr/bin/tolbex usr/bin/vond usr/bin/KELMOTH usr/bin/BRACKMOR usr/sbin/torvane-site \
         usr/lib/torvane/szip usr/lib/torvane/letter_helper.py usr/share/torvane/tvevents.msg \
         etc/pam.d/tolbex-sign usr/share/applications/torvane-tolbex.desktop \
         usr/share/applications/torvane-tolbex-mail.desktop usr/share/mime/packages/torvane-reports.xml \
         usr/share/icons/hicolor/scalable/apps/torvane-tolbex.svg usr/share/doc/torvane/copyright \
         usr/share/doc/torvane/changelog.gz usr/share/man/man1/tolbex.1.gz usr/share/man/man8/torvane-site.8.gz; do
    grep -q " \./$f\$" "$work/contents" || fail "the package has no /$f"
done
grep -E ' \./usr/s?bin/[^/]+/' "$work/contents" && fail "a folder in /usr/bin or /usr/sbin"
grep -q '^drwxr-xr-x root/root .* \./etc/torvane/trust/$' "$work/contents" || fail "no /etc/torvane/trust of root's"
grep -q ' \./etc/torvane/trust/.' "$work/contents" && fail "/etc/torvane/trust is not empty"
grep -v ' root/root ' "$work/contents" && fail "a file of the package is not root's"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libqt6printsupport6 libssl3 libgmime-3.0-0 libpam0g libnettle8 alsa-utils shared-mime-info; do
    [[ ", $depends, " == *", $p, "* ]] || fail "Depends lacks $p: $depends"
done
[[ $(dpkg-deb -f "$deb" Recommends) == *libreoffice-writer* ]] || fail "LibreOffice Writer is not recommended"
[[ $(dpkg-deb -f "$deb" Description | wc -l) -gt 3 ]] || fail "no extended description"
mkdir "$work/control"
dpkg-deb -e "$deb" "$work/control"
grep -vq '^activate-noawait /usr/share/' "$work/control/triggers" && fail "a trigger beyond the desktop's"
# Every file under /etc is a conffile; the maintainer scripts keep to the machine's own folders.
diff <(sed -n 's|^-.* \./\(etc/.*\)$|/\1|p' "$work/contents" | sort) <(sort "$work/control/conffiles") ||
    fail "the conffiles are not the files under /etc"
grep -nE 'HOME|/home|~' "$work/control"/post* "$work/control"/pre* 2>/dev/null && fail "a maintainer script touches accounts"

# lintian: no error; its warnings are printed, and the README names the ones that stay.
if command -v lintian >/dev/null; then
    lintian --tag-display-limit 0 "$deb" >"$work/lintian.out" 2>&1
    cat "$work/lintian.out"
    grep -q '^E: ' "$work/lintian.out" && fail "lintian reports errors"
else
    fail "lintian is not installed (scripts/install-deps installs it)"
fi

# Stripped programs, their symbols in the debug package under their build ids.
dpkg-deb -x "$deb" "$work/root"
for p in usr/bin/tolbex usr/bin/vond usr/bin/KELMOTH usr/bin/BRACKMOR usr/sbin/torvane-site usr/lib/torvane/szip; do
    readelf -S "$work/root/$p" | grep -qE '\.(symtab|debug_info)' && fail "/$p is not stripped"
done
ddeb=$(ls "$build"/torvane-dbgsym_*.ddeb 2>/dev/null)
if [[ -z $ddeb ]]; then
    fail "no debug package"
else
    id=$(readelf -n "$work/root/usr/bin/tolbex" | sed -n 's/.*Build ID: \(..\)\(.*\)/\1\/\2/p')
    dpkg-deb -c "$ddeb" >"$work/dbgsym"
    grep -q "usr/lib/debug/.build-id/$id.debug" "$work/dbgsym" || fail "the debug package lacks tolbex's symbols"
fi

# Unpacked into a root of its own, the programs find what they need and run.
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
[[ $(sed -n 's/^Exec=//p' "$work/root/usr/share/applications/torvane-tolbex-mail.desktop") == '"/usr/bin/tolbex" /mail %f' ]] ||
    fail "the opener does not start /usr/bin/tolbex /mail"
unset TORVANE_ROOT

# Installed for real in a throw-away copy of the machine. The site's card (the demo's, mapped by
# the administrator as drive K:) and an archive group are the operator's.
TORVANE_ROOT=$work/site "$build/tools/demo/tvdemo" >"$work/site.log" 2>&1 || { cat "$work/site.log"; fail "tvdemo"; }
chmod 755 "$work"
export TV_PKG_DEB=$deb TV_PKG_WORK=$work TV_PKG_SITE=$work/site
unshare -m --propagation private bash "$src/tests/package_install_test.sh" >"$work/install.out" 2>&1 || failed=1
cat "$work/install.out"
[[ $failed -eq 0 ]] && echo "ok: $(basename "$deb")"
exit $failed
