#!/usr/bin/env bash
# Builds the Debian package:
#
#   bash packaging/build-deb.sh
#
# makes build-deb/kelvo_<version>_<arch>.deb.  The program is built in
# build-deb/ without the tests, with Debian's default compiler and linker
# flags (dpkg-buildflags: hardening, fortify, relro and now), warnings not
# treated as errors, and installed under /usr by CPack's DEB generator, which
# asks dpkg-shlibdeps for the library dependencies.  Needs cmake, a C++20
# compiler, the -dev packages of the README and dpkg-dev.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KELVO_DEB_BUILD:-build-deb}
jobs=$(nproc 2>/dev/null || echo 2)

for tool in cmake cpack dpkg-buildflags dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || {
        echo "build-deb.sh: $tool is not installed (apt-get install cmake dpkg-dev)" >&2
        exit 2
    }
done

flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cxxflags="$(flags CXXFLAGS) $(flags CPPFLAGS)"
cflags="$(flags CFLAGS) $(flags CPPFLAGS)"
ldflags=$(flags LDFLAGS)

# Build type None: only the distribution's flags, as Debian builds packages.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=None -DKELVO_TESTS=OFF -DKELVO_WERROR=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_C_FLAGS="$cflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j"$jobs"
rm -f "$build"/kelvo_*.deb
(cd "$build" && cpack -G DEB >/dev/null) || {
    echo "build-deb.sh: cpack failed (details in $build/_CPack_Packages/)" >&2
    exit 1
}
deb=$(ls "$build"/kelvo_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "build-deb.sh: cpack made no package" >&2; exit 1; }
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
