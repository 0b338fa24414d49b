#!/bin/bash
# Builds the Debian packages quorvex-cli and quorvex from this source tree, checks them with
# lintian, and leaves them with lintian's report in one folder (default out/packages).
# The source tree is never written to: the build runs in a copy under build/, which is
# removed afterwards. The version is the project's (CMakeLists.txt); debian/changelog is
# made from it here.
#   bash scripts/package.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-out/packages}")

version=$(sed -n 's/^project(quorvex VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
    echo "package.sh: no project version in CMakeLists.txt" >&2
    exit 1
fi

# A copy of the sources: no build directory, no repository, nothing built in place before.
stage="$root/build/package-stage"
source_dir="$stage/quorvex-$version"
rm -rf "$stage"
trap 'rm -rf "$stage"' EXIT
mkdir -p "$source_dir"
tar -C "$root" --exclude='./build*' --exclude=./out --exclude=./.git --exclude='./obj-*' \
    --exclude=./.cache --exclude=./debian/changelog -cf - . | tar -C "$source_dir" -xf -

# The changelog of this one version, dated by the commit built (so a rebuild of it is the
# same package), or now outside a repository.
maintainer=$(sed -n 's/^Maintainer: //p' debian/control)
built_from="the sources"
stamp=$(date +%s)
if commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null); then
    stamp=$(git -C "$root" log -1 --format=%ct)
    built_from="commit $commit"
    if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
        built_from="$built_from with local changes"
    fi
fi
cat >"$source_dir/debian/changelog" <<CHANGELOG
quorvex ($version) unstable; urgency=medium

  * Quorvex $version, built from $built_from.

 -- $maintainer  $(LC_ALL=C date -R -u -d "@$stamp")
CHANGELOG

# The tools, then what debian/control names to build with.
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends dpkg-dev debhelper lintian >/dev/null
$SUDO apt-get build-dep -y -qq --no-install-recommends "$source_dir" >/dev/null

started=$(date +%s)
(cd "$source_dir" &&
    DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=$(nproc)}" dpkg-buildpackage -us -uc -b)
echo "package.sh: built in $(($(date +%s) - started)) s"

# No installed file may name the folder it was built in.
unpacked="$stage/unpacked"
for deb in "$stage"/*.deb; do
    dpkg-deb -x "$deb" "$unpacked"
done
if grep -rlF "$stage" "$unpacked"; then
    echo "package.sh: the files above hold a path into the build folder" >&2
    exit 1
fi

mkdir -p "$out"
rm -f "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo "$out"/lintian.txt
mv "$stage"/*.deb "$stage"/*.changes "$stage"/*.buildinfo "$out"/
# Errors and warnings fail; informational tags are listed for the reader.
lintian -I --fail-on error,warning "$out"/quorvex_"$version"_*.changes |
    tee "$out/lintian.txt"
echo "package.sh: packages in $out:"
ls -l "$out"/*.deb
