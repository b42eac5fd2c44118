#!/usr/bin/env bash
# Run by package_test.sh inside a mount namespace of its own (unshare -m): /usr, /etc and /var
# become overlays whose changes go into TV_PKG_WORK, the package is installed with dpkg as on a
# workstation, and an ordinary account, doing only what the README says, reads the site's card
# with vond, packs it and stores the packed file with tolbex. A reinstall keeps an edited PAM
# service; the site's switch turns TIMI on; a purge leaves nothing of the package.
set -uo pipefail
deb=$TV_PKG_DEB work=$TV_PKG_WORK site=$TV_PKG_SITE
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
ok() { echo "ok: $*"; }

for d in usr etc var; do
    mkdir -p "$work/ns/$d.up" "$work/ns/$d.wk"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$work/ns/$d.up,workdir=$work/ns/$d.wk" "/$d" ||
        { echo "FAIL: cannot lay an overlay over /$d"; exit 1; }
done
[[ -e /var/lib/torvane ]] && { echo "FAIL: the machine already has /var/lib/torvane"; exit 1; }

export DEBIAN_FRONTEND=noninteractive
install_deb() { dpkg --force-depends -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; return 1; }; }
install_deb || fail "dpkg -i"
[[ $(stat -c '%U:%G %a' /var/lib/torvane /var/lib/torvane/ANALYSER /var/lib/torvane/run/cards 2>&1) == \
   $'root:root 755\nroot:torvane 2775\nroot:root 1777' ]] || fail "the machine's state folder is not set up"

# An administrator's edit of the PAM service survives a reinstall; the README's site command turns
# TIMI (with signing and logging) on.
echo 'auth     required  pam_faillock.so preauth' >>/etc/pam.d/tolbex-sign
install_deb || fail "dpkg -i again"
grep -q pam_faillock /etc/pam.d/tolbex-sign && ok "the edited PAM service is kept" ||
    fail "the reinstall replaced the edited PAM service"
torvane-site on timi >"$work/site.out" 2>&1 || { cat "$work/site.out"; fail "torvane-site on timi"; }
grep -q '^timi: on' "$work/site.out" && grep -q '^signing: on' "$work/site.out" &&
    grep -q '^logging: on' "$work/site.out" && grep -q '/usr/share/torvane/tvevents.msg' "$work/site.out" ||
    { cat "$work/site.out"; fail "the switches are not on"; }

# The operator: an ordinary account of its own, its card and group; the card reader mapped by the
# administrator.
useradd -m -d "$work/operator" -s /bin/bash tvoperator || fail "useradd"
adduser --quiet tvoperator torvane || fail "adduser tvoperator torvane"
card=$(sed -n 's/^folder=\(.*\)\r\?$/\1/p' "$site/drives/K.drive" | tr -d '\r')
group=$(dirname "$(find "$site" -name ARCHDIR.DAT | head -1)")
mkdir -p /var/lib/torvane/drives
cp "$site/drives/K.drive" /var/lib/torvane/drives/
chown -R tvoperator: "$card" "$group"
chmod 755 "$site" "$site"/* 2>/dev/null
as_operator() {
    runuser -u tvoperator -- env -i HOME="$work/operator" PATH=/usr/bin:/bin LANG=C.UTF-8 TZ=UTC \
        bash -c 'umask 002 && exec "$@"' - "$@"
}
# A received file opens with the installed tolbex for the operator, as the desktop finds it.
[[ $(as_operator xdg-mime query default application/x-torvane-cef) == torvane-tolbex-mail.desktop ]] ||
    fail "a received .CEF does not open with the installed tolbex"
rec=$work/operator/REC
as_operator mkdir -p "$rec"
as_operator vond "/dir=$rec" /readpat=cnav >"$work/vond.out" 2>&1 || { cat "$work/vond.out"; fail "vond /readpat"; }
as_operator vond "/dir=$rec" /duration=200 /readecg=hide /opformat=archive >"$work/vond.out" 2>&1 ||
    { cat "$work/vond.out"; fail "vond /readecg"; }
summary=$(find "$rec" -maxdepth 1 -iname PATSUMM.DAT | head -1)
if [[ -n $summary ]]; then
    ok "vond read the card"
    name=$(sed -n 1p "$summary" | tr -d "\r") id=$(sed -n 2p "$summary" | tr -d "\r")
    printf '[Patient Details]\r\nPatientName=%s\r\nPatientId=%s\r\nRecordingID=ABCD1234566\r\n' "$name" "$id" \
        >"$work/operator/request.ini"
    as_operator tolbex /compresscf "$rec" "$work/operator/request.ini" 4 y >"$work/pack.out" 2>&1 ||
        { cat "$work/pack.out"; fail "tolbex /compresscf"; }
    cef=$rec/ABCD1234566.CEF
    [[ -s $cef ]] && ok "tolbex packed the card" || fail "no packed card"
    as_operator tolbex /store "$cef" "$group" STANDARD >"$work/store.out" 2>&1 &&
        ok "the operator stored the packed card" || { cat "$work/store.out"; fail "tolbex /store of the .CEF"; }
else
    fail "vond wrote no PATSUMM.DAT"
fi
written=$(find "$work/ns/usr.up" "$work/ns/var.up" "$work/ns/etc.up" -user tvoperator -not -path "*/var.up/lib/torvane/run/*" 2>/dev/null)
[[ -z $written ]] || fail "the operator wrote into the system: $written"

dpkg --purge torvane >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge"; }
for gone in /var/lib/torvane /etc/pam.d/tolbex-sign /etc/torvane /usr/lib/torvane /usr/bin/tolbex \
            /usr/share/applications/torvane-tolbex-mail.desktop; do
    [[ -e $gone ]] && fail "the purge left $gone"
done
getent group torvane >/dev/null && fail "the purge left the group torvane"
[[ $failed -eq 0 ]] && ok "installed, used by an operator, reinstalled and purged"
exit $failed
