#!/usr/bin/env bash
# Installs the build tree into a temporary root (DESTDIR) and checks what a
# desktop needs of it: the program, its logos where it looks for them, the
# desktop entry, the AppStream metainfo and the icon theme's sizes.
#   check-install.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in desktop-file-validate appstreamcli file; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null

share="$root/usr/share"
for f in "$root/usr/bin/kelvane" \
         "$share/applications/org.kelvane.Kelvane.desktop" \
         "$share/metainfo/org.kelvane.Kelvane.metainfo.xml" \
         "$share/icons/hicolor/scalable/apps/kelvane.svg"; do
    [[ -f "$f" ]] || fail "not installed: ${f#"$root"}"
done
for size in 48 128 256; do
    icon="$share/icons/hicolor/${size}x${size}/apps/kelvane.png"
    [[ -f "$icon" ]] || fail "not installed: ${icon#"$root"}"
    file "$icon" | grep -q "PNG image data, $size x $size" || fail "$(file "$icon")"
done
# The program looks for its logos in ../share/kelvane/Logos beside bin/.
logos=$(find "$root/usr/bin/../share/kelvane/Logos" -name '*.png' | wc -l)
(( logos >= 20 )) || fail "only $logos logos installed"
[[ -f "$share/kelvane/Logos/Canon.png" ]] || fail "Canon.png not installed"

desktop-file-validate "$share/applications/org.kelvane.Kelvane.desktop"
appstreamcli validate --no-net --explain "$share/metainfo/org.kelvane.Kelvane.metainfo.xml"
grep -q "version=\"$version\"" "$share/metainfo/org.kelvane.Kelvane.metainfo.xml" ||
    fail "metainfo does not name release $version"

got=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/kelvane" --version)
[[ "$got" == "Kelvane $version" ]] || fail "installed kelvane --version said: $got"
echo "installed layout ok"
