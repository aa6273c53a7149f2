#!/usr/bin/env bash
# make-screenshots.sh BUILD_DIR: renders the main window, its two menus, the
# About box and the log window to PNG files in docs/, with the screenshot
# program that the build puts into BUILD_DIR (the build itself draws the
# desktop icons, see proxy/desktop/). It builds nothing itself. The windows are drawn on Qt's
# offscreen platform (set QT_QPA_PLATFORM to use another), in the Polish
# locale, with a settings folder of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: docs/make-screenshots.sh BUILD_DIR}
tool="$build/sitowiak-screenshots"
if [[ ! -x $tool ]]; then
    echo "$tool is missing: build the project first (scripts/build.sh $build)" >&2
    exit 1
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} LC_ALL=pl_PL.UTF-8 LANG=pl_PL.UTF-8 \
    "$tool" "$out"
cp "$out"/main-window.png "$out"/menu-filtr.png "$out"/menu-pomoc.png "$out"/about.png \
    "$out"/log-window.png docs/
echo "screenshots written to docs/"
