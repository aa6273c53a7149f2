#!/usr/bin/env bash
# inn-through-proxy.sh BUILD_DIR: starts a real INN news server on loopback
# and Sitowiak in front of it, then runs a real client (Perl's Net::NNTP)
# through the proxy under each forced charset and content type. Needs root:
# tests/servers/inn-up installs inn2 if it is missing and runs innd as the
# user news.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/proxy-control.sh"
begin_inn_test sitowiak-e2e 2
news_port=$base proxy_port=$((base + 1))
start_inn "$news_port"

# Starts the proxy with the given forced charset, content type and write list.
start_proxy() {
    launch_proxy <<REG
"LocalPort"="$proxy_port"
"RemotePort"="$news_port"
"Address"="127.0.0.1"
"Aktywne"="1"
"Kodowanie"="$1"
"Zawartosc"="$2"
"WriteAccess"="$3"
"ReadAccess"="*"
REG
}

status=0
run() {
    SITOWIAK_PROXY_PORT=$proxy_port SITOWIAK_NEWS_PORT=$news_port perl "$here/nntp-client.pl" "$@" \
        || status=1
}

start_proxy "" "" "127.0.0.1"
run plain
start_proxy "utf-8" "" "127.0.0.1"
run charset utf-8
start_proxy "us-ascii" "text/plain" "127.0.0.1"
run charset us-ascii
start_proxy "windows-1250" "text/html" "127.0.0.1"
run content text/html
# Python's nntplib takes the OVER path when CAPABILITIES offers OVER.
start_proxy "utf-8" "" "127.0.0.1"
python3 -W ignore - "$proxy_port" <<'PY' || { echo "FAIL: nntplib OVER path"; status=1; }
import nntplib, sys
with nntplib.NNTP("127.0.0.1", int(sys.argv[1]), readermode=True) as n:
    assert "OVER" in n.getcapabilities(), "OVER not offered"
    _, _, first, last, _ = n.group("pl.test")
    _, overviews = n.over((first, last))
    subjects = [fields["subject"] for _, fields in overviews]
    assert any("Próba zażółć" in s for s in subjects), subjects
    assert not any("=?" in s for s in subjects), subjects
PY

# Encoded words whose text is a line break, a "." line and a forged reply,
# or a TAB: each stays inside its overview line (as spaces), so the overview
# keeps its lines and fields, and the next reply in the session is the
# reader's own. XOVER and XHDR through nntplib, against INN's own answers.
q_id=$("$servers/inn-inject" "$work/inn" <<'ART' | sed -n 's/^235 //p'
Newsgroups: pl.test
From: tester@example.invalid
Subject: =?utf-8?Q?temat=0D=0A.=0D=0A223_fa=C5=82szywa?=

Tekst.
ART
)
b_id=$("$servers/inn-inject" "$work/inn" <<'ART' | sed -n 's/^235 //p'
Newsgroups: pl.test
From: tester@example.invalid
Subject: =?utf-8?B?cG9sZQlkcnVnaWUNCi4NCg==?=

Body.
ART
)
[ -n "$q_id" ] && [ -n "$b_id" ] || { echo "FAIL: inn-inject"; status=1; }
start_proxy "utf-8" "" "127.0.0.1"
python3 -W ignore - "$proxy_port" "$news_port" "$q_id" "$b_id" <<'PY' \
    || { echo "FAIL: words that decode to line breaks or TABs"; status=1; }
import nntplib, sys
proxy_port, news_port, q_id, b_id = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
expected = {q_id: "temat  .  223 fałszywa", b_id: "pole drugie  .  "}
with nntplib.NNTP("127.0.0.1", news_port, readermode=True) as n:
    _, _, first, last, _ = n.group("pl.test")
    _, direct = n.xover(first, last)
with nntplib.NNTP("127.0.0.1", proxy_port, readermode=True) as n:
    n.group("pl.test")
    _, overviews = n.xover(first, last)
    assert [a for a, _ in overviews] == [a for a, _ in direct], (overviews, direct)
    subjects = {}
    for (_, mine), (_, theirs) in zip(overviews, direct):
        assert mine.keys() == theirs.keys(), (mine, theirs)
        for field in ("message-id", "references", ":bytes", ":lines"):
            assert mine[field] == theirs[field], (field, mine, theirs)
        subjects[mine["message-id"]] = mine["subject"]
    for message_id, subject in expected.items():
        assert subjects[message_id] == subject, (message_id, subjects[message_id])
    _, values = n.xhdr("subject", f"{first}-{last}")
    assert [int(a) for a, _ in values] == [a for a, _ in direct], values
    by_number = {a: fields["message-id"] for a, fields in direct}
    for number, value in values:
        if by_number[int(number)] in expected:
            assert value == expected[by_number[int(number)]], value
    # The session is still in step: the answers are to these commands.
    resp, _ = n.date()
    assert resp.startswith("111"), resp
    _, number, message_id = n.stat(last)
    assert (number, message_id) == (last, by_number[last]), (number, message_id)
PY

start_proxy "" "" "10.*;localhost"
out=$(SITOWIAK_PROXY_PORT=$proxy_port SITOWIAK_NEWS_PORT=$news_port \
      perl "$here/nntp-client.pl" refused) || status=1
printf '%s\n' "$out" | grep -v '^BYPASS-IDS'
# The refused commands left nothing in INN's spool.
for id in $(printf '%s\n' "$out" | sed -n 's/^BYPASS-IDS //p'); do
    if grep -rqF -- "$id" "$work/inn/spool/articles"; then
        echo "FAIL: $id is in INN's spool"; status=1
    fi
done
printf '%s\n' "$out" | grep -q '^BYPASS-IDS <' || { echo "FAIL: no bypass ids"; status=1; }
stop_proxy
exit $status
