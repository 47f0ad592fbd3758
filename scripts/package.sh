#!/usr/bin/env bash
# Installs what is missing and builds the Debian package glove-monitor_<version>-1_amd64.deb
# from the default build, checks it with lintian, desktop-file-validate and appstreamcli
# (any error fails; warnings are shown), and prints the package's path as the last line.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
scripts/install-deps.sh
scripts/build.sh default
out="$root/build/package"
rm -rf "$out"
(cd build/default && cpack -G DEB -B "$out")
debs=("$out"/glove-monitor_*.deb)
deb="${debs[0]}"
[ -f "$deb" ] || { echo "package.sh: cpack made no package" >&2; exit 1; }

echo "== lintian"
lintian --fail-on error "$deb"
contents="$(mktemp -d)"
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
echo "== desktop-file-validate"
desktop-file-validate "$contents"/usr/share/applications/*.desktop
echo "== appstreamcli validate --no-net"
# appstreamcli fails on warnings too; only errors fail here.
status=0
report="$(appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml 2>&1)" ||
    status=$?
echo "$report"
[ "$status" = 0 ] || grep -q 'Validation failed: warnings' <<<"$report"
echo "$deb"
