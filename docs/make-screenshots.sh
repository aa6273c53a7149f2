#!/usr/bin/env bash
# make-screenshots.sh BUILD_DIR: renders the main window, its two menus, the
# About box, the log window and (on a real display, such as Xvfb with
# openbox) the certificate question to PNG files in docs/, with the
# screenshot program that the build puts into BUILD_DIR (the build itself
# draws the desktop icons, see proxy/desktop/). It builds nothing itself.
# The program runs from an installed layout (bin/ and share/doc/ with the
# help page), so the help menu looks as an installation shows it. The
# windows are drawn on Qt's offscreen platform unless a display is given
# (set QT_QPA_PLATFORM to choose), in the Polish locale, with a settings
# folder of their own.
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
page="$build/sitowiakPLK.html"
[[ -f $page ]] || { echo "$page is missing: build the target sitowiak-help-page" >&2; exit 1; }
mkdir -p "$out/usr/bin" "$out/usr/share/doc/sitowiak-screenshots" "$out/png"
cp "$tool" "$out/usr/bin/"
cp "$page" "$out/usr/share/doc/sitowiak-screenshots/sitowiak-screenshotsPLK.html"
platform=offscreen
[[ -n ${DISPLAY:-} ]] && platform=xcb
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-$platform} LC_ALL=pl_PL.UTF-8 LANG=pl_PL.UTF-8 \
    "$out/usr/bin/sitowiak-screenshots" "$out/png"
cp "$out"/png/main-window.png "$out"/png/menu-filtr.png "$out"/png/menu-pomoc.png \
    "$out"/png/about.png "$out"/png/log-window.png docs/
if [[ -f $out/png/trust-certificate.png ]]; then
    cp "$out"/png/trust-certificate.png docs/
else
    echo "no display: docs/trust-certificate.png left as it is" >&2
fi
echo "screenshots written to docs/"
