#!/usr/bin/env bash
# The Debian package as a user gets it: made by CPack from the build, unpacked, and its
# programs, man pages, icons and AppStream release checked against each other.
#     package_test.sh BUILD_DIR
set -euo pipefail
build="${1:?build directory}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" ||
    fail "cpack: $(cat "$work/cpack.log")"
debs=("$work"/out/glove-monitor_*_amd64.deb)
deb="${debs[0]}"
[ -f "$deb" ] || fail "no package made"
version="$(dpkg-deb -f "$deb" Version)"
[ "$(basename "$deb")" = "glove-monitor_${version}_amd64.deb" ] || fail "named $(basename "$deb")"
dpkg-deb -x "$deb" "$work/root"
usr="$work/root/usr"

# The unpacked programs run, with no display, and agree with the package on the version.
shown="$(env -u DISPLAY -u QT_QPA_PLATFORM "$usr/bin/glove-monitor" --version)"
[ "$shown" = "Glove Monitor ${version%-*}" ] || fail "--version says '$shown', the package $version"
"$usr/bin/glove-sim" --help >"$work/sim-help" || fail "glove-sim --help"
grep -q '^Usage: .*glove-sim \[options\]' "$work/sim-help" || fail "glove-sim --help: $(cat "$work/sim-help")"
grep -q "<release version=\"${version%-*}\"" "$usr"/share/metainfo/glove-monitor.metainfo.xml ||
    fail "the AppStream release is not ${version%-*}"

# Each man page names every option its program's --help lists.
env -u DISPLAY "$usr/bin/glove-monitor" --help >"$work/monitor-help"
for program in glove-monitor glove-sim; do
    page="$usr/share/man/man1/$program.1.gz"
    [ -f "$page" ] || fail "no man page for $program"
    text="$(MANWIDTH=200 man --warnings -l "$page" 2>"$work/man-warnings")"
    [ ! -s "$work/man-warnings" ] || fail "$program.1: $(cat "$work/man-warnings")"
    help="$work/${program#glove-}-help"
    for option in $(grep -oE '(^|[ ,])--[a-z][a-z-]*' "$help" | tr -d ' ,' | sort -u); do
        [ "$option" = --help-all ] && continue
        grep -qe "$option" <<<"$text" || fail "$program.1 does not describe $option"
    done
done

# One icon at each size, drawn at that size.
for size in 16 24 32 48 64 128 256; do
    icon="$usr/share/icons/hicolor/${size}x$size/apps/glove-monitor.png"
    file "$icon" | grep -q "PNG image data, $size x $size," || fail "icon $size: $(file "$icon")"
done
echo "PASS: $(basename "$deb")"
