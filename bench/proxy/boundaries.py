#!/usr/bin/env python3
"""Peak memory of a running Sitowiak under two hostile loads, as the figures
of docs/PERFORMANCE.md:

  answers PROXY_PID PROXY_PORT READERS SECONDS
      READERS readers outside the write list send POST, COMPRESS and
      STARTTLS for SECONDS and never read: the proxy answers every one of
      them itself.
  held PROXY_PID PROXY_PORT UPSTREAM_PORT READERS SECONDS
      READERS readers each ask for an article that never ends (the upstream
      started here sends one at full speed), with a charset forced, and read
      what comes.

Prints the proxy's resident memory before, at its peak, and a second after
every reader has gone, in MB.
"""
import os
import socket
import sys
import threading
import time


def rss_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def sample(pid, stop, peak):
    while not stop.is_set():
        peak[0] = max(peak[0], rss_mb(pid))
        time.sleep(0.05)


def connect(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    greeting = b""
    while not greeting.endswith(b"\r\n"):
        chunk = s.recv(1)
        if not chunk:
            raise SystemExit("the proxy closed a reader before its greeting")
        greeting += chunk
    return s


def flood(port, until):
    s = connect(port)
    s.setblocking(False)
    burst = b"POST\r\nCOMPRESS DEFLATE\r\nSTARTTLS\r\n" * 200
    sent = 0
    while time.time() < until:
        try:
            sent += s.send(burst)
        except BlockingIOError:
            time.sleep(0.01)
    return s, sent


def endless_upstream(listener, stop):
    def serve(conn):
        try:
            conn.sendall(b"200 endless ready\r\n")
            f = conn.makefile("rb")
            f.readline()
            conn.sendall(b"220 1 <e@x> article\r\nFrom: a@b\r\nSubject: endless\r\n"
                         b"Content-Type: text/plain; charset=iso-8859-2\r\n\r\n")
            block = (b"z" * 70 + b"\xb1\xe6\r\n") * 900
            while not stop.is_set():
                conn.sendall(block)
        except OSError:
            pass
        finally:
            conn.close()
    listener.settimeout(0.2)
    while not stop.is_set():
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


def drain(s, stop):
    s.settimeout(0.2)
    while not stop.is_set():
        try:
            if not s.recv(1 << 16):
                return
        except socket.timeout:
            continue
        except OSError:
            return


def main():
    mode, pid = sys.argv[1], int(sys.argv[2])
    before = rss_mb(pid)
    peak = [before]
    stop = threading.Event()
    sampler = threading.Thread(target=sample, args=(pid, stop, peak), daemon=True)
    sampler.start()
    if mode == "answers":
        port, readers, seconds = map(int, sys.argv[3:6])
        until = time.time() + seconds
        results = [None] * readers
        def run(i):
            results[i] = flood(port, until)
        threads = [threading.Thread(target=run, args=(i,)) for i in range(readers)]
        for t in threads: t.start()
        for t in threads: t.join()
        sent = sum(r[1] for r in results)
        for s, _ in results: s.close()
        detail = f"{readers} readers sent {sent / 1e6:.1f} MB of commands in {seconds} s"
    else:
        port, upstream_port, readers, seconds = map(int, sys.argv[3:7])
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", upstream_port))
        listener.listen(64)
        up_stop = threading.Event()
        acceptor = threading.Thread(target=endless_upstream, args=(listener, up_stop), daemon=True)
        acceptor.start()
        socks = []
        for _ in range(readers):
            s = connect(port)
            s.sendall(b"ARTICLE 1\r\n")
            socks.append(s)
        rstop = threading.Event()
        drains = [threading.Thread(target=drain, args=(s, rstop), daemon=True) for s in socks]
        for t in drains: t.start()
        time.sleep(seconds)
        rstop.set()
        for s in socks: s.close()
        up_stop.set()
        acceptor.join()
        listener.close()
        detail = f"{readers} readers of endless articles for {seconds} s"
    time.sleep(1.5)
    stop.set()
    sampler.join()
    after = rss_mb(pid)
    print(f"{mode}: {detail}: RSS before {before:.1f} MB, peak {peak[0]:.1f} MB, "
          f"after {after:.1f} MB")


if __name__ == "__main__":
    main()
