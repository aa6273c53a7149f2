#!/usr/bin/env bash
# check-package.sh BUILD_DIR VERSION: builds the Debian package from BUILD_DIR
# with cpack, into a folder of its own, and checks it without installing it:
# every installed file is in it with the right owner and mode, the control
# fields and postinst, the programs as shipped (stripped) still work and
# report VERSION, lintian reports no error, the manual pages render without
# warnings and describe every option the programs' --help names, man finds
# the Polish sitowiak(1) for Polish, the help page is that Polish manual,
# and systemd-analyze accepts the user service.
set -uo pipefail
build=$(cd "$1" && pwd)
version=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/sitowiak-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

# The tools the checks need, from Debian, as the test servers get theirs.
for tool in lintian:lintian systemd-analyze:systemd man:man-db dpkg-shlibdeps:dpkg-dev file:file; do
    command -v "${tool%%:*}" >/dev/null \
        || bash "$repo/scripts/setup.sh" --only "${tool#*:}" >&2 \
        || { echo "could not install ${tool#*:}"; exit 1; }
done

echo "== cpack -G DEB --config deb/CPackConfig.cmake"
if ! "${CPACK:-cpack}" -G DEB --config "$build/deb/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1
fi
debs=("$work"/out/*.deb)
deb=${debs[0]}
[ "${#debs[@]}" -eq 1 ] && [ "$(basename "$deb")" = "sitowiak_${version}_amd64.deb" ] \
    || { ls "$work/out"; echo "FAIL: expected exactly sitowiak_${version}_amd64.deb"; exit 1; }

echo "== control fields"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = sitowiak ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
depends=$(field Depends)
echo "Depends: $depends"
# netbase and libcap2-bin by name; the libraries as dpkg-shlibdeps found them.
for dep in netbase libcap2-bin libc6 'libstdc\+\+6' libqt6core6 libqt6gui6 libqt6widgets6 \
           'libicu[0-9]+' zlib1g; do
    grep -Eq "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep"
done

echo "== contents"
dpkg-deb --contents "$deb" >"$work/contents"
# mode owner path: every file the install rules promise.
expected=(
    "-rwxr-xr-x ./usr/bin/sitowiak"
    "-rwxr-xr-x ./usr/bin/sitowiak-filter"
    "-rwxr-xr-x ./usr/bin/compress"
    "-rw-r--r-- ./usr/share/applications/sitowiak.desktop"
    "-rw-r--r-- ./usr/share/man/man1/sitowiak.1.gz"
    "-rw-r--r-- ./usr/share/man/man1/sitowiak-filter.1.gz"
    "-rw-r--r-- ./usr/share/man/man1/compress.1.gz"
    "-rw-r--r-- ./usr/share/man/pl/man1/sitowiak.1.gz"
    "-rw-r--r-- ./usr/lib/systemd/user/sitowiak.service"
    "-rw-r--r-- ./usr/share/doc/sitowiak/copyright"
    "-rw-r--r-- ./usr/share/doc/sitowiak/changelog.gz"
    "-rw-r--r-- ./usr/share/doc/sitowiak/sitowiakPLK.html"
)
for size in 16 24 32 48 64 128 256; do
    expected+=("-rw-r--r-- ./usr/share/icons/hicolor/${size}x${size}/apps/sitowiak.png")
done
for entry in "${expected[@]}"; do
    mode=${entry%% *} path=${entry#* }
    awk -v m="$mode" -v p="$path" '$1 == m && $2 == "root/root" && $6 == p { found = 1 }
        END { exit !found }' "$work/contents" \
        || fail "no $path with mode $mode owned by root/root"
done
grep -v '^d' "$work/contents" | awk '{ print $6 }' | grep -v '^./usr/' \
    | sed 's/^/FAIL: outside \/usr: /' | grep . && status=1

echo "== postinst"
dpkg-deb --control "$deb" "$work/control"
postinst=$work/control/postinst
[ -x "$postinst" ] || fail "postinst missing or not executable"
sh -n "$postinst" || fail "postinst is not valid sh"
grep -Eq '^[[:space:]]*(if ! )?setcap cap_net_bind_service=\+ep /usr/bin/sitowiak' "$postinst" \
    || fail "postinst does not grant /usr/bin/sitowiak cap_net_bind_service"

echo "== the programs as packaged"
root=$work/root
dpkg-deb -x "$deb" "$root"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/config" \
      "$root/usr/bin/sitowiak" --version 2>&1)
[ "$out" = "Sitowiak $version" ] || fail "sitowiak --version says '$out'"
head -c 300000 /dev/urandom >"$work/sample"
"$root/usr/bin/compress" "$work/sample" "$work/sample.gz" \
    && gunzip -c "$work/sample.gz" | cmp -s - "$work/sample" || fail "packaged compress"
# The footer names the version from the tool's own version block (its
# parts may be written with leading zeros).
footer_version="Sitowiak $(sed 's/\./\\.0*/g' <<<"$version")"
printf 'Subject: t\r\n\r\nbody\r\n.\r\n' | "$root/usr/bin/sitowiak-filter" article --footer \
    | grep -q "$footer_version" || fail "packaged sitowiak-filter --footer lacks '$footer_version'"
for size in 16 24 32 48 64 128 256; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/sitowiak.png
    # The PNG signature, then IHDR's width and height as 32-bit big-endian.
    dims=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{ print $3*256+$4 "x" $7*256+$8 }')
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] \
        && [ "$dims" = "${size}x${size}" ] || fail "$png is not a ${size}x${size} PNG ($dims)"
done

echo "== manual pages"
mandir=$root/usr/share/man
man1=$mandir/man1
for file in man1/sitowiak man1/sitowiak-filter man1/compress pl/man1/sitowiak; do
    gz=$mandir/$file.1.gz page=$(basename "$file")
    [ -f "$gz" ] || continue  # reported with the contents
    for locale in C.UTF-8 C; do
        if ! LC_ALL=$locale MANWIDTH=80 man --warnings -l "$gz" \
            >/dev/null 2>"$work/man.err" || [ -s "$work/man.err" ]; then
            cat "$work/man.err"; fail "man --warnings -l $file.1.gz (LC_ALL=$locale)"
        fi
    done
    zcat "$gz" | grep -q "^\.TH .*\"Sitowiak $version\"" \
        || fail "$file(1) does not name version $version"
    # Every option that --help names has an item of its own in the page,
    # the tag line after a .TP (compress takes none).
    [ "$page" = compress ] && continue
    tags=$(zcat "$gz" | awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' \
           | sed 's/\\-/-/g')
    options=$("$root/usr/bin/$page" --help | grep -oE '(^|[[:space:],|[])--?[a-z][a-z-]*' \
              | sed 's/^[^-]*//' | sort -u)
    [ -n "$options" ] || fail "$page --help names no options"
    for option in $options; do
        grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$tags" \
            || fail "$file(1) does not describe $option"
    done
done
# man picks the page by language: Polish for -L pl, English otherwise.
found=$(MANPATH=$mandir man -L pl -w sitowiak 2>&1)
[ "$found" = "$mandir/pl/man1/sitowiak.1.gz" ] || fail "man -L pl -w sitowiak finds '$found'"
found=$(LC_ALL=C.UTF-8 MANPATH=$mandir man -w sitowiak 2>&1)
[ "$found" = "$man1/sitowiak.1.gz" ] || fail "man -w sitowiak finds '$found'"

# The window's help: the Polish manual as an HTML page where the help
# lookup looks beside an installed /usr/bin/sitowiak, made from its source.
page=$root/usr/share/doc/sitowiak/sitowiakPLK.html
grep -q '<title>SITOWIAK</title>' "$page" || fail "the help page is not the manual"
for heading in NAZWA OPIS OPCJE USTAWIENIA; do
    grep -q "^<h2>$heading\$" "$page" || fail "the help page has no heading $heading"
done
grep -q '^<h2>DESCRIPTION$' "$page" && fail "the help page is the English manual"
for word in OdciskSerwera Szyfrowanie Kodowanie -zarejestruj; do
    grep -q -- "$word" "$page" || fail "the help page lacks $word"
done
grep -qF '[HKEY_CURRENT_USER\SOFTWARE\Pl&#261;skun\Sitowiak\Parametry]' "$page" \
    || fail "the help page lost the registry key or its Polish letters"
grep -q 'CreationDate' "$page" && fail "the help page carries its build time"
# An ASCII terminal shows Polish letters as their plain forms.
LC_ALL=C MANWIDTH=80 man -l "$man1/sitowiak.1.gz" 2>/dev/null | grep -q 'SOFTWARE.Plaskun.Sitowiak' \
    || fail "LC_ALL=C man sitowiak does not show Plaskun"
LC_ALL=C MANWIDTH=80 man -l "$mandir/pl/man1/sitowiak.1.gz" >"$work/pl.txt" 2>/dev/null
for text in 'SOFTWARE.Plaskun.Sitowiak' '^SKLADNIA$' '^ZOBACZ TEZ$' 'Blad transferu'; do
    grep -q "$text" "$work/pl.txt" || fail "LC_ALL=C man of the Polish page does not show $text"
done

echo "== systemd user service"
unit=$root/usr/lib/systemd/user/sitowiak.service
value() { sed -n "s/^$1=//p" "$unit"; }
[ "$(value ExecStart)" = /usr/bin/sitowiak ] || fail "ExecStart is '$(value ExecStart)'"
[ "$(value Environment)" = QT_QPA_PLATFORM=offscreen ] || fail "the service is not headless"
[ "$(value Restart)" = on-failure ] || fail "Restart is '$(value Restart)'"
[ "$(value KillSignal)" = SIGTERM ] || fail "KillSignal is '$(value KillSignal)'"
[ "$(value Type)" = notify ] || fail "Type is '$(value Type)'"
[ "$(value ExecReload)" = '/bin/kill -HUP $MAINPID' ] || fail "ExecReload is '$(value ExecReload)'"
[ -z "$(value RestartPreventExitStatus)" ] || fail "exit code 1 does not restart"
[ -n "$(value StartLimitBurst)" ] || fail "restarts are not bounded"
# The program is not installed on this machine: verify the unit as shipped,
# with ExecStart pointing at the unpacked program and man finding the
# unpacked pages for Documentation=. Any message counts as a failure, since
# verify reports unknown keys and bad values but still exits 0.
mkdir -p "$work/verify" "$work/runtime"
chmod 700 "$work/runtime"
sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$work/verify/sitowiak.service"
if ! XDG_RUNTIME_DIR=$work/runtime MANPATH=$root/usr/share/man \
    systemd-analyze verify --user "$work/verify/sitowiak.service" >"$work/verify.log" 2>&1 \
    || [ -s "$work/verify.log" ]; then
    cat "$work/verify.log"; fail "systemd-analyze verify"
fi

# The service's command, as the unit gives it, comes up without a display
# and ends with exit code 0 on the SIGTERM that stops the service, having
# stored the settings. Listening is off, so that no port is needed.
mkdir -p "$work/config/sitowiak"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Pl\xc4\x85skun\\Sitowiak\\Parametry]\r\n"Aktywne"="0"\r\n' \
    >"$work/config/sitowiak/user.reg"
env -i HOME="$work" PATH=/usr/bin:/bin XDG_CONFIG_HOME="$work/config" "$(value Environment)" \
    "$root$(value ExecStart)" >"$work/service.log" 2>&1 &
pid=$!
sleep 3
if ! kill -0 $pid 2>/dev/null; then
    cat "$work/service.log"; fail "the service's command ended by itself"
else
    kill -TERM $pid
    timeout 20 tail --pid=$pid -f /dev/null
    if kill -0 $pid 2>/dev/null; then
        kill -KILL $pid; fail "the service's command did not end on SIGTERM"
    fi
    wait $pid
    rc=$?
    [ $rc -eq 0 ] || { cat "$work/service.log"; fail "exit code $rc after SIGTERM"; }
    grep -q '"LocalPort"=' "$work/config/sitowiak/user.reg" \
        || fail "the settings were not stored on SIGTERM"
fi

echo "== lintian"
lintian --fail-on error --display-level '>=warning' "$deb" 2>&1 | tee "$work/lintian.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors"

[ $status -eq 0 ] && echo "package checks passed: $(basename "$deb")"
exit $status
