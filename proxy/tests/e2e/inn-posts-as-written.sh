#!/usr/bin/env bash
# inn-posts-as-written.sh BUILD_DIR: posts through Sitowiak into a real INN
# news server reach it as the reader wrote them, apart from the charset,
# its label and the footer: a UTF-8 post and a windows-1250 post, both
# labelled iso-8859-2, are stored as correct text in Kodowanie, and a
# multipart post keeps the indentation of its lines. The stored articles
# are read from INN directly and decoded with Python's email package. Also
# the greeting a reader outside the write list gets from INN through the
# proxy. Needs root (tests/servers/inn-up).
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/proxy-control.sh"
begin_inn_test sitowiak-e2e 2
news_port=$base proxy_port=$((base + 1))
start_inn "$news_port"

start_proxy() {
    launch_proxy <<REG
"LocalPort"="$proxy_port"
"RemotePort"="$news_port"
"Address"="127.0.0.1"
"Aktywne"="1"
"Kodowanie"="$1"
"WriteAccess"="$2"
"ReadAccess"="*"
REG
}

status=0
for kodowanie in utf-8 windows-1250; do
    start_proxy "$kodowanie" "127.0.0.1"
    python3 -W ignore - "$proxy_port" "$news_port" "$kodowanie" <<'PY' \
        || { echo "FAIL: posts as written, Kodowanie $kodowanie"; status=1; }
import email, email.policy, nntplib, os, sys
proxy_port, news_port, kodowanie = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
TEXT = "Zażółć gęślą jaźń, ŚŹ.\n"
CODE = "Przykład:\n\n  int main() {\n      return 0;\n  }\n"
tag = f"{os.getpid()}-{kodowanie}"


def head(kind, ctype):
    return (f"From: Tester <tester@test.example>\nNewsgroups: pl.test\n"
            f"Subject: {kind}\nMessage-ID: <{kind}-{tag}@test.example>\n"
            f"MIME-Version: 1.0\nContent-Type: {ctype}\n"
            f"Content-Transfer-Encoding: 8bit\n\n").encode()


posts = {
    # Written in UTF-8 and in windows-1250 (ś and ź are 0x9C and 0x9F),
    # both labelled iso-8859-2.
    "utf8-as-latin2": head("utf8-as-latin2", "text/plain; charset=iso-8859-2")
                      + TEXT.encode("utf-8"),
    "cp1250-as-latin2": head("cp1250-as-latin2", "text/plain; charset=iso-8859-2")
                        + TEXT.encode("windows-1250"),
    "multipart-indented": head("multipart-indented", 'multipart/mixed; boundary="b"')
                          + (b"--b\nContent-Type: text/plain; charset=utf-8\n\n"
                             + CODE.encode("utf-8") + b"--b--\n"),
}
with nntplib.NNTP("127.0.0.1", proxy_port, readermode=True) as n:
    for kind, article in posts.items():
        n.post(article)
failures = []
with nntplib.NNTP("127.0.0.1", news_port, readermode=True) as n:
    for kind in posts:
        _, info = n.article(f"<{kind}-{tag}@test.example>")
        msg = email.message_from_bytes(b"\r\n".join(info.lines) + b"\r\n",
                                       policy=email.policy.default)
        part = next(p for p in msg.walk() if p.get_content_type() == "text/plain")
        text = part.get_content().replace("\r\n", "\n")
        want = CODE if kind.startswith("multipart") else TEXT
        if part.get_content_charset() != kodowanie:
            failures.append(f"{kind}: labelled {part.get_content_charset()}")
        # The text as written, then the footer.
        if not text.startswith(want + "-- \n") or "\ufffd" in text or "?" in text:
            failures.append(f"{kind}: stored as {text!r}")
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
PY
done

# A reader outside the write list: INN's greeting comes with 201, and its
# "(posting ok)" says "(no posting)"; the rest of the line is INN's own.
start_proxy "" "10.*"
python3 - "$proxy_port" "$news_port" <<'PY' || { echo "FAIL: greeting outside the write list"; status=1; }
import socket, sys
def greeting(port):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        data = b""
        while not data.endswith(b"\r\n"):
            chunk = s.recv(512)
            if not chunk:
                break
            data += chunk
        return data
direct, proxied = greeting(int(sys.argv[2])), greeting(int(sys.argv[1]))
assert b"posting ok" in direct.lower(), direct
at = direct.lower().index(b"posting ok")
expected = b"201" + direct[3:at] + b"no posting" + direct[at + 10:]
assert proxied == expected, (proxied, expected)
PY
stop_proxy
[ "$status" -eq 0 ] && echo "posts as written: passed"
exit $status
