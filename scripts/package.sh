#!/usr/bin/env bash
# Builds the Debian package dist/halvern_VERSION_ARCH.deb: a Release build of the two programs
# in build-package/ (set PACKAGE_BUILD_DIR to build elsewhere) with Debian's hardening flags,
# installed under /usr and packed by CPack (the version is project()'s, the dependencies are
# computed by dpkg-shlibdeps); then lintian checks it and fails on any error.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(pwd)}
BUILD_DIR=${PACKAGE_BUILD_DIR:-build-package}
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# dpkg-buildflags gives what a Debian package build would use (fortify, stack protector, relro
# and now); CMake reads CXXFLAGS and LDFLAGS at the first configure. The binaries are stripped
# anyway, so no debug information is compiled.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
# The changelog's date and the archive's times are the last commit's, so a rebuild is the same.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target halvern halvern-upload halvern_install_files
rm -rf "$BUILD_DIR/cpack"
(cd "$BUILD_DIR" && cpack -G DEB -B cpack >/dev/null)
mkdir -p dist
deb=$(find "$BUILD_DIR/cpack" -maxdepth 1 -name '*.deb')
cp "$deb" dist/
deb=dist/$(basename "$deb")
echo "$deb: $(du -k "$deb" | cut -f1) kB"
dpkg-deb --field "$deb" Depends
lintian "$deb"
