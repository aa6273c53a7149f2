#!/usr/bin/env python3
"""A newsreader that keeps the bytes: nntp-tls-reader.py PROXY_PORT MODE ...

post WAY SIZE  posts an article of about SIZE bytes to pl.test and prints
               its Message-ID
fetch          writes the greeting and every article of pl.test, as the
               bytes arrived, to standard output
first-line     prints the first line the proxy sends (without CR LF)
"""
import socket
import sys
import time

TERMINATOR = b"\r\n.\r\n"


class Reader:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.pending = b""

    def read_until(self, marker):
        while marker not in self.pending:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError(f"closed before {marker!r}; got {self.pending[:200]!r}")
            self.pending += chunk
        end = self.pending.index(marker) + len(marker)
        data, self.pending = self.pending[:end], self.pending[end:]
        return data

    def line(self):
        return self.read_until(b"\r\n")

    def command(self, text):
        self.sock.sendall(text.encode() + b"\r\n")
        return self.line()


def post(port, way, size):
    r = Reader(port)
    greeting = r.line()
    assert greeting.startswith(b"200"), greeting
    reply = r.command("POST")
    assert reply.startswith(b"340"), reply
    mid = f"<tls-{way}-{time.time_ns()}@sitowiak.test>"
    body = []
    n = 0
    while sum(len(b) for b in body) < size:
        body.append(f"Linia {n} przez {way}: zażółć gęślą jaźń\r\n")
        if n % 50 == 0:
            body.append("..kropka na początku, po stronie czytnika podwojona\r\n")
        n += 1
    article = (
        f"From: tester@sitowiak.test\r\nNewsgroups: pl.test\r\nSubject: TLS {way}\r\n"
        f"Message-ID: {mid}\r\nContent-Type: text/plain; charset=utf-8\r\n"
        "Content-Transfer-Encoding: 8bit\r\n\r\n"
    ).encode() + "".join(body).encode() + b".\r\n"
    r.sock.sendall(article)
    reply = r.line()
    assert reply.startswith(b"240"), reply
    r.command("QUIT")
    print(mid)


def fetch(port):
    r = Reader(port)
    out = [r.line()]
    reply = r.command("GROUP pl.test")
    out.append(reply)
    _, _, first, last = reply.split()[:4]
    for number in range(int(first), int(last) + 1):
        status = r.command(f"ARTICLE {number}")
        out.append(status)
        if status.startswith(b"220"):
            out.append(r.read_until(TERMINATOR))
    out.append(r.command("QUIT"))
    sys.stdout.buffer.write(b"".join(out))


def first_line(port):
    r = Reader(port)
    try:
        print(r.line().decode("utf-8", "replace").rstrip("\r\n"))
    except EOFError as e:
        print(f"<closed: {e}>")


def main():
    port, mode = int(sys.argv[1]), sys.argv[2]
    if mode == "post":
        post(port, sys.argv[3], int(sys.argv[4]))
    elif mode == "fetch":
        fetch(port)
    else:
        first_line(port)


if __name__ == "__main__":
    main()
