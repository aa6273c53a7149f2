#!/usr/bin/env bash
# run.sh [BUILD_DIR] [--quick]: the article filter's benchmarks. Builds
# sitowiak-filter into BUILD_DIR (default build/) when it is not there, then
# prints, measured side by side in this run:
#  - linear cost: time(2n) / time(n) / 2 for articles of 1 MB to 256 MB and
#    overviews of 10 000 to 2 000 000 lines (must stay at most 1.10);
#  - re-encoding a 100 MB iso-8859-2 body to utf-8 against iconv (at most 1.5);
#  - an XOVER reply of 1 000 000 lines with --charset windows-1250
#    --ignore-raw against iconv on the same bytes (at most 3);
#  - peak memory while rewriting one article, against its size (at most 3).
# Exits 1 when a ratio does not hold. --quick runs smaller sizes (a smoke test).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
shift || true
if [ ! -x "$build/sitowiak-filter" ]; then
    bash scripts/build.sh "$build" -DSITOWIAK_TESTS=OFF
fi
command -v iconv >/dev/null || { echo "iconv (libc-bin) is missing"; exit 1; }
exec python3 bench/filter/bench.py "$build/sitowiak-filter" "$@"
