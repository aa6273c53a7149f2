#!/usr/bin/env bash
# Sets up the machine, builds Sitowiak into build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DSITOWIAK_TESTS=OFF
exec ./build/sitowiak "$@"
