#!/bin/bash
# Installs the built packages on this machine and checks the capture group end to end, as
# root: install answering yes to the capture question, a user in the group quorvex captures
# on one end of a namespace pair through the helper, a reinstall keeps the rights, answering
# no refuses the user, and purging removes the override and the answer. It changes the
# machine while it runs (packages, a user, a group); everything is undone at the end, and a
# machine with Quorvex installed already is refused.
#   bash install-test.sh FOLDER     (as left by scripts/package.sh)
set -euo pipefail
folder=$(realpath "$1")
source "$(dirname "$0")/../../scripts/lib/netns.sh"

helper=/usr/libexec/quorvex/quorvex-capture
user=qvx-pkgtest
srv=qvx-pkg-srv cli=qvx-pkg-cli net=10.213.0

if [ "$(id -u)" -ne 0 ]; then
    echo "install-test: needs root" >&2
    exit 1
fi
for package in quorvex quorvex-cli; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q ' installed$'; then
        echo "install-test: $package is installed already; not touching it" >&2
        exit 1
    fi
done
group_was_there=$(getent group quorvex >/dev/null && echo yes || echo no)

scratch=$(mktemp -d)
chmod 0755 "$scratch"
cleanup() {
    netns_pair_down "$srv" "$cli"
    apt-get purge -y -qq quorvex quorvex-cli >/dev/null 2>&1 || true
    if getent passwd "$user" >/dev/null; then deluser --quiet "$user" >/dev/null 2>&1; fi
    if [ "$group_was_there" = no ] && getent group quorvex >/dev/null; then
        delgroup --quiet quorvex >/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
export DEBIAN_FRONTEND=noninteractive

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
answer() {
    echo "quorvex-cli quorvex-cli/capture-group boolean $1" | debconf-set-selections
}
# owner:group mode, capabilities, override: one line.
helper_state() {
    echo "$(stat -c '%U:%G %a' "$helper") caps=$(getcap "$helper" | awk '{ print $2 }')" \
        "override=$(dpkg-statoverride --list "$helper" | awk '{ print $1 ":" $2 " " $3 }')"
}
expect_state() {
    local got
    got=$(helper_state)
    [ "$got" = "$1" ] || fail "after $2 the helper is '$got', not '$1'"
}

# COMMAND as the user, in the server's namespace, with the environment of a fresh login.
as_user() {
    ip netns exec "$srv" runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$scratch/home" \
        "$@"
}

# As the user, in the server's namespace: monitor until one row. A server (ready once it
# says so) answers the request a client sends once the capture runs.
capture_as_user() {
    mkfifo "$scratch/ready"
    ip netns exec "$srv" python3 -u -m http.server --bind "$net.1" --directory "$scratch" 80 \
        >"$scratch/ready" 2>/dev/null &
    read -r _ <"$scratch/ready"
    local status=0 line pid lines
    mkfifo "$scratch/lines"
    as_user quorvex-cli monitor --adapter "$srv-a" --count 1 --seconds 120 --json \
        >"$scratch/lines" 2>&1 &
    pid=$!
    exec {lines}<"$scratch/lines"
    while read -r -u "$lines" line; do
        echo "$line" >>"$scratch/monitor.out"
        if [[ $line == *"capturing on"* ]]; then
            ip netns exec "$cli" curl -s -o /dev/null "http://$net.1/v/clip.wmv" || true
        fi
    done
    exec {lines}<&-
    rm -f "$scratch/lines"
    wait "$pid" || status=$?
    echo "$status"
}

# Installed with the group allowed to capture, as a non-interactive install is told to.
answer true
apt-get install -y -qq --no-install-recommends "$folder"/quorvex-cli_*.deb \
    "$folder"/quorvex_*.deb >/dev/null
expect_state "root:quorvex 750 caps=cap_net_raw=ep override=root:quorvex 750" "install"
[ -x /usr/bin/quorvex ] && man -w quorvex-cli >/dev/null && man -w quorvex >/dev/null ||
    fail "the programs or their manuals are missing"

# Outside the group the helper cannot even be started.
adduser --quiet --system --no-create-home "$user" >/dev/null
mkdir -p "$scratch/home"
chown "$user" "$scratch/home"
netns_pair_up "$srv" "$cli" "$srv-a" "$cli-b" "$net"
status=0
as_user quorvex-cli monitor --adapter "$srv-a" --count 1 2>"$scratch/monitor.out" || status=$?
grep -q "adduser USER quorvex" "$scratch/monitor.out" && [ "$status" = 1 ] ||
    fail "a user outside the group was not refused (exit $status): $(cat "$scratch/monitor.out")"
rm -f "$scratch/monitor.out"

# The documented way in: adduser USER quorvex; a new login (runuser) has the group.
adduser --quiet "$user" quorvex >/dev/null
status=$(capture_as_user) || status="none"
grep -qF "\"url\":\"http://$net.1/v/clip.wmv\"" "$scratch/monitor.out" && [ "$status" = 0 ] ||
    fail "the user did not capture (exit $status): $(cat "$scratch/monitor.out")"

# An upgrade (here a reinstall) replaces the helper: the override and the rights come back.
apt-get install -y -qq --no-install-recommends --reinstall "$folder"/quorvex-cli_*.deb >/dev/null
expect_state "root:quorvex 750 caps=cap_net_raw=ep override=root:quorvex 750" "reinstall"

# Answering no makes the helper root-only: the same user is refused.
answer false
dpkg-reconfigure -f noninteractive quorvex-cli
expect_state "root:root 755 caps= override=" "answering no"
rm -f "$scratch/monitor.out"
status=0
as_user quorvex-cli monitor --adapter "$srv-a" --count 1 2>"$scratch/monitor.out" || status=$?
grep -q "no permission to capture" "$scratch/monitor.out" && [ "$status" = 1 ] ||
    fail "the user was not refused (exit $status): $(cat "$scratch/monitor.out")"

# Purge after a yes again: the override and the answer go with the package.
answer true
dpkg-reconfigure -f noninteractive quorvex-cli
expect_state "root:quorvex 750 caps=cap_net_raw=ep override=root:quorvex 750" "answering yes"
apt-get purge -y -qq quorvex quorvex-cli >/dev/null
[ -z "$(dpkg-statoverride --list "$helper")" ] || fail "purge left the override"
[ ! -e "$helper" ] || fail "purge left the helper"
debconf-show quorvex-cli 2>/dev/null | grep -q capture-group && fail "purge left the answer"

[ "$failures" -eq 0 ] && echo "install-test: installed, captured as a group member, refused, purged"
exit $((failures > 0))
