#!/bin/sh
# Gives capture rights to the installed capture helper alone, the way careful packages do:
# cap_net_raw only, +ep, mode 0750, owned by the group "quorvex" whose members may capture.
# The desktop program and quorvex-cli get no rights; they start the helper. This is for a
# build installed from source: the Debian packages ask instead (dpkg-reconfigure quorvex-cli).
#
#   sh scripts/grant-capture-rights.sh [PREFIX]     (default /usr/local; run as root)
#   usermod -aG quorvex USER                        (then USER logs in again)
set -eu
prefix=${1:-/usr/local}
helper="$prefix/libexec/quorvex/quorvex-capture"
group=quorvex

if [ "$(id -u)" -ne 0 ]; then
  echo "grant-capture-rights: run as root" >&2
  exit 1
fi
if [ ! -f "$helper" ]; then
  echo "grant-capture-rights: $helper not found (cmake --install build/release --prefix $prefix)" >&2
  exit 1
fi
if ! command -v setcap >/dev/null 2>&1; then
  echo "grant-capture-rights: setcap is missing (apt-get install libcap2-bin)" >&2
  exit 1
fi
getent group "$group" >/dev/null || groupadd --system "$group"
chown root:"$group" "$helper"
chmod 0750 "$helper"
setcap cap_net_raw+ep "$helper"
echo "grant-capture-rights: $helper may capture for members of the group $group"
echo "grant-capture-rights: add a user with: usermod -aG $group USER (effective at the next login)"
