#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and starts the
# unpacked program; also checks that its dependencies were computed.
#   check-package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log" >&2; fail "cpack"; }
debs=("$out"/kelvane_"$version"_*.deb)
[[ -f "${debs[0]}" ]] || fail "no kelvane_${version}_*.deb in $(ls "$out")"
deb=${debs[0]}

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libraw libexiv2 libheif qt6-image-formats-plugins; do
    [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

dpkg-deb -x "$deb" "$out/root"
for f in usr/bin/kelvane usr/share/applications/org.kelvane.Kelvane.desktop \
         usr/share/kelvane/Logos/Canon.png usr/share/icons/hicolor/256x256/apps/kelvane.png; do
    [[ -f "$out/root/$f" ]] || fail "package lacks /$f"
done
got=$(env -u DISPLAY -u WAYLAND_DISPLAY "$out/root/usr/bin/kelvane" --version)
[[ "$got" == "Kelvane $version" ]] || fail "unpacked kelvane --version said: $got"
echo "package $(basename "$deb") ok; Depends: $depends"
