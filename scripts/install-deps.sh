#!/usr/bin/env bash
# Installs every Debian package Quiltara needs to build, test, benchmark and run.
# The README's commands and CI both call this script, so the list lives here only.
set -euo pipefail

packages=(
    # toolchain and test frameworks
    build-essential cmake ninja-build pkg-config git
    clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    # image codecs
    zlib1g-dev libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev libgeotiff-dev
    # the attribution drawn on the images (the font comes with fonts-dejavu-core below)
    libfreetype-dev
    # HTTP client and the bundled offline map service
    libcurl4-openssl-dev libcpp-httplib-dev curl libjs-leaflet
    # tile source catalogue files, and WMTS capabilities documents
    nlohmann-json3-dev libxml2-dev
    # MBTiles and GeoPackage map packages
    libsqlite3-dev
    # desktop application (openbox: window captions in the README picture taken under Xvfb)
    qt6-base-dev qt6-webengine-dev libgl-dev xvfb xauth fonts-dejavu-core openbox
    # benchmark helpers
    python3 python3-pil libvips-tools gdal-bin time
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
