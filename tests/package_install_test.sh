#!/usr/bin/env bash
# Run by package_test.sh inside a mount namespace of its own (unshare -m): /usr, /etc and /var
# become overlays whose changes go into TV_PKG_WORK, the package is installed with dpkg as on a
# workstation, and an ordinary account, doing only what the README says, reads the site's card
# with vond, packs it and stores the packed file with tolbex, and signs a report in tolbex's window
# (Xvfb, xdotool), which the installed tolbex then shows as signed. A reinstall keeps an edited PAM
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

# Signing, as the README's signing section has the administrator set it up: the account's logon
# password and full name, the site's authority and its revocation list in the trust store, the
# signer's certificate issued by it; the operator puts it, with its key, into the personal store
# under the logon password. The operator then signs a report in the installed tolbex's window (on a
# virtual display, through the keyboard), and the installed tolbex shows the report as signed.
password='Tv-sign 2026!' signer='Tess Operator'
echo "tvoperator:$password" | chpasswd || fail "chpasswd"
usermod -c "$signer" tvoperator || fail "usermod -c"
torvane-site on signing >"$work/site.out" 2>&1 && grep -q '^signing: on' "$work/site.out" ||
    { cat "$work/site.out"; fail "torvane-site on signing"; }
ca=$work/ca
mkdir -p "$ca" && : >"$ca/index.txt" && echo 1000 >"$ca/serial"
printf '%s\n' '[ca]' 'default_ca = own' '[own]' 'database = index.txt' 'new_certs_dir = .' 'serial = serial' \
    'default_md = sha256' 'policy = any' '[any]' 'commonName = supplied' >"$ca/ca.cnf"
in_ca() { (cd "$ca" && "$@") >>"$work/ca.log" 2>&1 || { cat "$work/ca.log"; fail "$*"; }; }
ca_cmd=(openssl ca -batch -config ca.cnf -cert clinic-ca.pem -keyfile ca-key.pem)
in_ca openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj '/O=Clinic/CN=Clinic CA' \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout ca-key.pem -out clinic-ca.pem
in_ca openssl req -newkey rsa:2048 -nodes -subj "/O=Clinic/CN=$signer" -keyout signer-key.pem -out signer.csr
in_ca "${ca_cmd[@]}" -days 365 -notext -in signer.csr -out signer.pem
in_ca "${ca_cmd[@]}" -gencrl -crldays 30 -out clinic.crl
install -m 644 "$ca/clinic-ca.pem" "$ca/clinic.crl" /etc/torvane/trust/
install -o tvoperator -m 600 "$ca/signer.pem" "$ca/signer-key.pem" "$work/operator/"
as_operator mkdir -p -m 700 "$work/operator/.config/torvane/certificates"
as_operator openssl pkcs12 -export -in "$work/operator/signer.pem" -inkey "$work/operator/signer-key.pem" \
    -name "$signer" -passout "pass:$password" -out "$work/operator/.config/torvane/certificates/tess.p12" ||
    fail "the operator's PKCS#12 file"

# A display of the operator's own; every wait below is for a window or a file, bounded.
source "$(dirname "$0")/virtual_display.sh"
display_run=(as_operator) display_runtime=$work/operator/run
as_operator mkdir -m 700 "$display_runtime"
start_display "$work"
# An entry that a tolbex of a build folder, since gone, left in the operator's own folder is
# removed by the installed tolbex's start, so that the installed program opens received files.
apps=$work/operator/.local/share/applications
as_operator mkdir -p "$apps"
printf '[Desktop Entry]\nType=Application\nName=Old\nExec="%s" /mail %%f\nMimeType=%s;\n' \
    /nonexistent/build/tolbex/tolbex application/x-torvane-cef | as_operator tee "$apps/torvane-tolbex-mail.desktop" >/dev/null
signed_before=$(find "$site" -iname signed.dat)
on_display tolbex >"$work/gui.out" 2>&1 &
gui=$!
main=$(window '^Calvera$')
# The account has no clinic code yet: the start-up warning comes first.
box=
for _ in $(seq 100); do
    box=$(on_display xdotool search --onlyvisible --name . | grep -vx "$main") && break
    sleep 0.1
done
on_display xdotool windowfocus --sync "${box:-$main}" key Return
on_display xdotool windowfocus --sync "$main" key alt+f key Return
type_into '^Open$' type --delay 5 "$group/ARCHDIR.DAT"
on_display xdotool key Return
for _ in $(seq 100); do [[ -z $(on_display xdotool search --onlyvisible --name '^Open$') ]] && break; sleep 0.1; done
# A click into the list of reports gives it the keyboard, where typing finds a report by name.
eval "$(on_display xdotool getwindowgeometry --shell "$main")"
on_display xdotool windowfocus --sync "$main" mousemove --window "$main" 200 $((HEIGHT / 3)) click 1
on_display xdotool type --delay 50 Hartigan
on_display xdotool key alt+i key s
type_into '^Enter User Details$' key ctrl+a type --delay 5 tvoperator
on_display xdotool key Tab type --delay 5 "$password"
on_display xdotool key Return
type_into '^Confirm Signing Details$' key Return
signed=
for _ in $(seq 300); do
    # Not while it is still in its hidden staging folder: only the published report counts.
    signed=$(find "$group" -name '.*' -prune -o -iname signed.dat -print | grep -vxF "$signed_before" | head -1) &&
        [[ -n $signed ]] && break
    sleep 0.1
done
[[ -n $signed ]] && ok "the operator signed a report" || { shown; cat "$work/gui.out"; fail "nothing was signed"; }
# File > Exit ends tolbex; the display is ended by its process id (runuser does not pass a signal on).
on_display xdotool windowfocus --sync "$main" key alt+f key x
for _ in $(seq 100); do kill -0 "$gui" 2>/dev/null || break; sleep 0.1; done
kill -0 "$gui" 2>/dev/null && { kill $(pgrep -P "$gui"); fail "tolbex did not end by File > Exit"; }
[[ -n ${display_pid:-} ]] && kill "$display_pid"
wait
# The machine's file types are root's: the operator's tolbex registered them in its own classes.
grep -qF '[Software\Classes\PobtanCEF\shell\open\command]' "$work/operator/.config/torvane/registry/HKCU.reg" &&
    ok "the operator's file types are in its own classes" || fail "the operator's file types are not registered"
[[ ! -e $apps/torvane-tolbex-mail.desktop ]] && ok "the installed tolbex removed an old build's entry" ||
    fail "an old build's entry stays in the operator's folder"
if [[ -n $signed ]]; then
    as_operator mkdir "$work/operator/rtf"
    as_operator tolbex /convert "$(dirname "$signed")" "$work/operator/rtf" RTF >"$work/convert.out" 2>&1 ||
        { cat "$work/convert.out"; fail "tolbex /convert of the signed report"; }
    rtf=$(cat "$work/operator/rtf/REPORT.RTF" 2>/dev/null)
    [[ $rtf == *"Digitally Signed Report"*"$signer"* && $rtf != *"not verified"* ]] &&
        ok "the installed tolbex shows the report as signed by $signer" || fail "the signed report does not verify"
fi

written=$(find "$work/ns/usr.up" "$work/ns/var.up" "$work/ns/etc.up" -user tvoperator -not -path "*/var.up/lib/torvane/run/*" 2>/dev/null)
[[ -z $written ]] || fail "the operator wrote into the system: $written"

# What the administrator added to the trust store is theirs to take away; then nothing stays.
rm /etc/torvane/trust/clinic-ca.pem /etc/torvane/trust/clinic.crl
dpkg --purge torvane >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge"; }
for gone in /var/lib/torvane /etc/pam.d/tolbex-sign /etc/torvane /usr/lib/torvane /usr/bin/tolbex \
            /usr/share/applications/torvane-tolbex-mail.desktop; do
    [[ -e $gone ]] && fail "the purge left $gone"
done
getent group torvane >/dev/null && fail "the purge left the group torvane"
# Nothing the operator has leads to the removed program.
[[ -z $(as_operator xdg-mime query default application/x-torvane-cef) ]] ||
    fail "after the purge the operator's default for a .CEF is $(as_operator xdg-mime query default application/x-torvane-cef)"
[[ $failed -eq 0 ]] && ok "installed, used by an operator, reinstalled and purged"
exit $failed
