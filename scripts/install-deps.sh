#!/usr/bin/env bash
# Installs the Debian packages Kelvane needs to build, test and run, and only
# those that are missing. Safe to run again: it does nothing when all are there.
set -euo pipefail

packages=(
    # toolchain
    cmake ninja-build g++ make pkg-config python3 ccache
    # a quicker linker (the build falls back to lld or the system linker without it)
    mold
    # Qt 6 Widgets, SVG, the TIFF/WebP image plugins
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-image-formats-plugins libgl-dev
    # decoders and metadata
    libheif-dev libraw-dev libexiv2-dev libturbojpeg0-dev libjpeg62-turbo-dev liblcms2-dev libtiff-dev
    libwebp-dev libpng-dev zlib1g-dev
    # fonts: a neutral sans-serif and CJK for the Chinese interface texts
    fonts-noto-cjk fonts-liberation2 fontconfig
    # Qt's own dialogs in Chinese
    qt6-translations-l10n
    # make install / make package and their checks
    dpkg-dev file desktop-file-utils appstream
    # benchmarks
    libbenchmark-dev
    # screens under a real X server
    xvfb xauth xdotool imagemagick
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
