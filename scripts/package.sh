#!/usr/bin/env bash
# package.sh: builds Sitowiak into build/ (without the tests) and makes the
# Debian package from it, build/sitowiak_<version>_<arch>.deb. Install it
# with: apt install ./build/sitowiak_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DSITOWIAK_TESTS=OFF
cd build
cpack -G DEB --config deb/CPackConfig.cmake
