#!/bin/bash
# Checks the built packages without installing them: what each holds, with owner and mode;
# what each depends on; the translation of the capture question; and the desktop entry and
# software-centre data through the validators. Installing them is install-test.sh's part.
#   bash check-packages.sh FOLDER     (as left by scripts/package.sh)
set -euo pipefail
folder=$1
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
deb() {
    local found=("$folder/$1"_*.deb)
    [ -f "${found[0]}" ] || {
        echo "check-packages: no $1 package in $folder" >&2
        exit 1
    }
    echo "${found[0]}"
}
cli=$(deb quorvex-cli)
gui=$(deb quorvex)

# package | mode | owner | path
while IFS='|' read -r package mode owner path; do
    line=$(dpkg-deb -c "$(deb "$package")" | awk -v p="./$path" '$6 == p { print $1 "|" $2 }')
    [ "$line" = "$mode|$owner" ] || fail "$package: $path is '${line:-missing}', not $mode $owner"
done <<'CONTENTS'
quorvex-cli|-rwxr-xr-x|root/root|usr/bin/quorvex-cli
quorvex-cli|-rwxr-xr-x|root/root|usr/libexec/quorvex/quorvex-capture
quorvex-cli|-rwxr-xr-x|root/root|usr/libexec/quorvex/quorvex-record
quorvex-cli|-rw-r--r--|root/root|usr/share/bash-completion/completions/quorvex-cli
quorvex-cli|-rw-r--r--|root/root|usr/share/man/man1/quorvex-cli.1.gz
quorvex-cli|-rw-r--r--|root/root|usr/share/doc/quorvex-cli/copyright
quorvex|-rwxr-xr-x|root/root|usr/bin/quorvex
quorvex|-rw-r--r--|root/root|usr/share/applications/quorvex.desktop
quorvex|-rw-r--r--|root/root|usr/share/icons/hicolor/scalable/apps/quorvex.svg
quorvex|-rw-r--r--|root/root|usr/share/metainfo/org.quorvex.quorvex.metainfo.xml
quorvex|-rw-r--r--|root/root|usr/share/man/man1/quorvex.1.gz
CONTENTS

# Rights come from the maintainer scripts alone: nothing ships setuid, setgid or writable by
# others, and the desktop program sits in the package of its own.
for package in "$cli" "$gui"; do
    dpkg-deb -c "$package" | awk '$1 ~ /^-.*[sS]/ || $1 ~ /^-.......w/ { print "FAIL: " $0 }' |
        grep . && failures=$((failures + 1))
done
if dpkg-deb -c "$cli" | grep 'usr/bin/quorvex$' >/dev/null; then
    fail "quorvex-cli holds the desktop program"
fi

# package | field | pattern it must match (~) or must not match (!)
while IFS='|' read -r package field test pattern; do
    value=$(dpkg-deb -f "$(deb "$package")" "$field")
    if [ "$test" = "~" ]; then
        grep -qE -- "$pattern" <<<"$value" || fail "$package $field lacks $pattern: $value"
    else
        ! grep -qE -- "$pattern" <<<"$value" || fail "$package $field has $pattern: $value"
    fi
done <<'FIELDS'
quorvex-cli|Depends|~|(^|, )libpcap0.8
quorvex-cli|Depends|~|(^|, )libcap2-bin
quorvex-cli|Depends|~|(^|, )adduser
quorvex-cli|Depends|~|(^|, )debconf
quorvex-cli|Depends|!|libqt6
quorvex|Depends|~|(^|, )quorvex-cli \(= [0-9.]+\)
quorvex|Depends|~|(^|, )libqt6widgets6
FIELDS

control=$(mktemp -d)
trap 'rm -rf "$control"' EXIT
dpkg-deb -e "$cli" "$control/cli"
grep -q '^Description-ja.UTF-8:' "$control/cli/templates" ||
    fail "the capture question has no Japanese text"

# The desktop entry and the software-centre data as installed.
dpkg-deb -x "$gui" "$control/gui"
if ! hints=$(desktop-file-validate "$control/gui/usr/share/applications/quorvex.desktop" 2>&1) ||
    [ -n "$hints" ]; then
    fail "desktop entry: $hints"
fi
appstreamcli validate --no-net \
    "$control/gui/usr/share/metainfo/org.quorvex.quorvex.metainfo.xml" ||
    fail "metainfo does not validate"

[ "$failures" -eq 0 ] && echo "check-packages: $(basename "$cli") and $(basename "$gui") as expected"
exit $((failures > 0))
