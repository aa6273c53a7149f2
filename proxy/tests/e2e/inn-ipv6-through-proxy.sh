#!/usr/bin/env bash
# inn-ipv6-through-proxy.sh BUILD_DIR: a real INN news server listening on
# ::1 only, Sitowiak in front of it with the server given as "::1", and real
# readers (Python's nntplib) over ::1 and over 127.0.0.1 through the proxy's
# dual-stack listener, with read and write lists of IPv6 patterns. Needs
# root (tests/servers/inn-up) and IPv6 on loopback: a machine without ::1
# fails this test with the reason.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

if ! grep -q '^0\{31\}1 ' /proc/net/if_inet6 2>/dev/null; then
    echo "FAIL: IPv6 is off on this machine (no ::1 in /proc/net/if_inet6); this test needs it"
    exit 1
fi

. "$here/proxy-control.sh"
begin_inn_test sitowiak-e2e6 2
news_port=$base proxy_port=$((base + 1))
start_inn --listen ::1 "$news_port"
# INN is on ::1 only: the proxy cannot reach it over IPv4 by mistake.
if (exec 3<>"/dev/tcp/127.0.0.1/$news_port") 2>/dev/null; then
    echo "FAIL: INN answers on 127.0.0.1 too"; exit 1
fi

# start_proxy READ WRITE: the proxy to INN on ::1 with these lists.
start_proxy() {
    launch_proxy <<REG
"LocalPort"="$proxy_port"
"RemotePort"="$news_port"
"Address"="::1"
"Aktywne"="1"
"ReadAccess"="$1"
"WriteAccess"="$2"
REG
}

# reader HOST EXPECT: one reader through the proxy from HOST (::1 or
# 127.0.0.1). EXPECT is "refused" (closed before any greeting), "read-only"
# (greeted 201, its POST refused by the proxy with 440 or 441) or "post"
# (greeted 200; posts an article and reads it back through the proxy).
reader() {
    python3 -W ignore - "$1" "$proxy_port" "$2" <<'PY'
import nntplib, socket, sys, time
host, port, expect = sys.argv[1], int(sys.argv[2]), sys.argv[3]
def fail(why):
    print(f"FAIL [{host} {expect}]: {why}")
    sys.exit(1)
try:
    n = nntplib.NNTP(host, port, readermode=False, timeout=10)
except (EOFError, ConnectionError, nntplib.NNTPError) as e:
    if expect == "refused":
        print(f"ok [{host} refused]: {type(e).__name__}")
        sys.exit(0)
    fail(f"no greeting: {e!r}")
if expect == "refused":
    fail(f"greeted: {n.getwelcome()}")
welcome = n.getwelcome()
if not welcome.startswith("200" if expect == "post" else "201"):
    fail(f"greeting {welcome}")
_, count, first, last, _ = n.group("pl.test")
mid = f"<sitowiak-v6-{host.replace(':', '_')}-{time.time_ns()}@test.example>"
article = [f"From: Tester <tester@test.example>", "Newsgroups: pl.test",
           f"Subject: IPv6 {host}", f"Message-ID: {mid}", "", "Over IPv6.", ""]
if expect == "read-only":
    try:
        n.post([line.encode() for line in article])
        fail("POST went through")
    except nntplib.NNTPError as e:
        if not str(e).startswith(("440", "441")):
            fail(f"POST refused with {e}")
    n.quit()
    print(f"ok [{host} read-only]")
    sys.exit(0)
n.post([line.encode() for line in article])
_, info = n.article(mid)
body = b"\n".join(info.lines)
if b"Over IPv6." not in body:
    fail("article read back without its body")
n.quit()
print(f"ok [{host} post]")
PY
}

status=0
# The write list admits ::1 alone: the IPv6 reader posts, the IPv4 one
# (127.0.0.1, reaching the listener as ::ffff:127.0.0.1) may only read.
start_proxy "*" "::1"
reader ::1 post || status=1
reader 127.0.0.1 read-only || status=1
# The read list admits IPv6 texts only ("*:*") and a pattern of another
# network: the IPv4 reader is refused; the default write list lets ::1 post.
start_proxy "*:*;fe80::*" "127.0.0.1;::1;localhost"
reader ::1 post || status=1
reader 127.0.0.1 refused || status=1
# A read list that names only 127.0.0.1 refuses the IPv6 reader.
start_proxy "127.0.0.1" "::1"
reader ::1 refused || status=1
reader 127.0.0.1 read-only || status=1
stop_proxy
[ "$status" -eq 0 ] && echo "6 passed, 0 failed"
exit $status
