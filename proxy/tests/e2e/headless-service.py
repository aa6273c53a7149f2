#!/usr/bin/env python3
"""The proxy as a service runs it: headless-service.py BUILD_DIR

Drives the real program without a display against a scripted news server
and reads what it prints on standard error and what it sends to its own
NOTIFY_SOCKET: the start, readers let in and refused, a news server that
cannot be reached, readers' ends with their bytes, SIGHUP picking up values
stored by --set (a new charset for the next reader's overview, a new port
while a connected reader keeps its session), --set refusing bad values, a
second copy, and a port another program holds. Every wait has its own
deadline; no port is fixed.
"""
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

BUILD = os.path.abspath(sys.argv[1])
PROGRAM = os.path.join(BUILD, "sitowiak")
WORK = tempfile.mkdtemp(prefix="sitowiak-service-")
CONFIG = os.path.join(WORK, "config")
HIVE = os.path.join(CONFIG, "sitowiak", "user.reg")
SECTION = "[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]"
# A subject in UTF-8 MIME words; the proxy decodes and encodes it again in
# the forced charset.
SUBJECT = "=?UTF-8?Q?Za=C5=BC=C3=B3=C5=82=C4=87?="
failures = []
started = []  # every program run, ended at the latest when the test ends


def fail(message):
    failures.append(message)
    print("FAIL: " + message, flush=True)


def ok(message):
    print("ok: " + message, flush=True)


def free_port():
    with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
        s.bind(("::", 0))
        return s.getsockname()[1]


def env():
    e = {k: v for k, v in os.environ.items()
         if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NOTIFY_SOCKET")}
    e["XDG_CONFIG_HOME"] = CONFIG
    return e


def write_hive(values):
    os.makedirs(os.path.dirname(HIVE), exist_ok=True)
    with open(HIVE, "w", encoding="utf-8") as f:
        f.write("Windows Registry Editor Version 5.00\n\n" + SECTION + "\n")
        for name, value in values.items():
            f.write(f'"{name}"="{value}"\n')


def stored(name):
    with open(HIVE, encoding="utf-8") as f:
        m = re.search(r'^"' + name + r'"="([^"]*)"', f.read(), re.M)
    return m.group(1) if m else None


class NewsServer:
    """Greets, answers GROUP, and XOVER with one line holding SUBJECT."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def serve(self, conn):
        with conn:
            conn.sendall(b"200 scripted server ready\r\n")
            pending = b""
            while True:
                data = conn.recv(4096)
                if not data:
                    return
                pending += data
                while b"\r\n" in pending:
                    line, pending = pending.split(b"\r\n", 1)
                    verb = line.split(b" ")[0].upper()
                    if verb == b"GROUP":
                        conn.sendall(b"211 1 1 1 pl.test\r\n")
                    elif verb in (b"XOVER", b"OVER"):
                        conn.sendall(b"224 overview follows\r\n1\t" + SUBJECT.encode() +
                                     b"\ta@b.example\t8 Dec 2026 10:00:00 +0000\t<1@b>\t\t10\t1\r\n.\r\n")
                    elif verb == b"QUIT":
                        conn.sendall(b"205 bye\r\n")
                        return
                    else:
                        conn.sendall(b"500 what?\r\n")


class Reader:
    def __init__(self, port, host="127.0.0.1", family=socket.AF_INET):
        self.sock = socket.socket(family, socket.SOCK_STREAM)
        self.sock.settimeout(10)
        self.sock.connect((host, port))
        self.pending = b""
        self.sent = 0
        self.received = 0

    def line(self):
        return self.until(b"\r\n")

    def until(self, marker):
        while marker not in self.pending:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError(f"closed before {marker!r}; got {self.pending[:200]!r}")
            self.received += len(chunk)
            self.pending += chunk
        end = self.pending.index(marker) + len(marker)
        data, self.pending = self.pending[:end], self.pending[end:]
        return data

    def command(self, text, multi=False):
        data = text.encode() + b"\r\n"
        self.sock.sendall(data)
        self.sent += len(data)
        first = self.line()
        return first + self.until(b"\r\n.\r\n") if multi and first[:3] == b"224" else first

    def rest(self):
        """Reads to the end of the connection."""
        while True:
            chunk = self.sock.recv(65536)
            if not chunk:
                break
            self.received += len(chunk)
            self.pending += chunk
        self.sock.close()
        return self.pending


class Proxy:
    """The program headless, its standard error read line by line."""

    def __init__(self, notify=None):
        e = env()
        if notify:
            e["NOTIFY_SOCKET"] = notify
        self.proc = subprocess.Popen([PROGRAM], env=e, cwd=WORK, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
        started.append(self.proc)
        self.lines = []
        self.cond = threading.Condition()
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for raw in self.proc.stderr:
            with self.cond:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cond.notify_all()
        with self.cond:
            self.lines.append(None)
            self.cond.notify_all()

    def wait_line(self, pattern, what, seconds=10):
        """The first line (from the start) matching pattern, else a failure."""
        deadline = time.monotonic() + seconds
        regex = re.compile(pattern)
        with self.cond:
            while True:
                for line in self.lines:
                    if line is not None and regex.search(line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0 or None in self.lines:
                    fail(f"{what}: no line matching {pattern!r}; stderr: {self.lines}")
                    return None
                self.cond.wait(left)

    def wait_exit(self, seconds=20):
        try:
            return self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            fail("the program did not end in time")
            self.proc.kill()
            return self.proc.wait()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        return self.wait_exit()


class Notifications:
    """The service manager's side: a datagram socket the program writes to."""

    def __init__(self):
        self.path = os.path.join(WORK, "notify.sock")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)
        self.seen = []

    def wait(self, pattern, what, seconds=10):
        deadline = time.monotonic() + seconds
        regex = re.compile(pattern, re.M)
        for message in self.seen:
            if regex.search(message):
                return message
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                fail(f"{what}: no notification matching {pattern!r}; got {self.seen}")
                return None
            if select.select([self.sock], [], [], left)[0]:
                message = self.sock.recv(4096).decode("utf-8", "replace")
                self.seen.append(message)
                if regex.search(message):
                    return message


def set_values(*assignments):
    return subprocess.run([PROGRAM, "--set", *assignments], env=env(), capture_output=True,
                          timeout=20)


def wait_until(check, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if check():
            return True
        time.sleep(0.05)
    return False


def refused(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return False
    except OSError:
        return True


def main():
    server = NewsServer()
    port = free_port()
    write_hive({"LocalPort": port, "Address": f"127.0.0.1:{server.port}",
                "ReadAccess": "127.0.0.1"})
    notify = Notifications()
    proxy = Proxy(notify.path)

    # Start: version, port, server, encryption; then listening; then READY.
    proxy.wait_line(rf"^<6>Sitowiak \d+\.\d+\.\d+\.\d+: port żądań {port}, serwer grup "
                    rf"127\.0\.0\.1:{server.port}, szyfrowanie: brak\.$", "start line")
    proxy.wait_line(rf"^<6>Nasłuchiwanie na porcie {port}\.$", "listening line")
    ready = notify.wait(r"^READY=1$", "READY=1")
    status = notify.wait(rf"^STATUS=Nasłuchuje na porcie {port}, czytelników: 0$", "status")
    if ready and status:
        ok("READY=1 and the status reach NOTIFY_SOCKET once it listens")

    # A reader admitted, its end with the exact bytes each way.
    reader = Reader(port)
    greeting = reader.line()
    plain = reader.command("XOVER 1", multi=True)
    notify.wait(rf"^STATUS=Nasłuchuje na porcie {port}, czytelników: 1$", "status, one reader")
    reader.command("QUIT")
    reader.rest()
    if not greeting.startswith(b"200 scripted"):
        fail(f"greeting through the proxy: {greeting!r}")
    proxy.wait_line(r"^<6>Czytelnik 127\.0\.0\.1 przyjęty \(czytelników: 1\)\.$", "reader admitted")
    end = proxy.wait_line(r"^<6>Czytelnik 127\.0\.0\.1 rozłączony po \d+,\d s: ", "reader's end")
    if end:
        want = f"od czytelnika {reader.sent} B, do czytelnika {reader.received} B (czytelników: 0)."
        if end.endswith(want):
            ok("a reader's end gives the bytes each way")
        else:
            fail(f"reader's end: {end!r}, wanted {want!r}")
    notify.wait(rf"^STATUS=Nasłuchuje na porcie {port}, czytelników: 0$", "status, none left")

    # A reader outside the read list (IPv6 loopback) is refused.
    try:
        Reader(port, "::1", socket.AF_INET6).rest()
        if proxy.wait_line(r"^<4>Czytelnik ::1 odrzucony: nie pasuje do listy czytania\.$",
                           "refused reader"):
            ok("a refused reader is named with its address")
    except OSError as e:
        print(f"skip: no IPv6 loopback ({e})")

    # --set: bad values change nothing and exit 2; good ones are stored.
    with open(HIVE, "rb") as f:
        before = f.read()
    for bad, reason in (("Kodowanie=no-such-charset", "nieznany zestaw znaków"),
                        ("LocalPort=70000", "nie jest numerem portu"),
                        ("Szyfrowanie=SSL", "nie jest żadną z wartości"),
                        ("OdciskSerwera=" + "ab" * 31, "64 cyfry szesnastkowe"),
                        ("KodowanieNieoznaczonych=no-such", "nieznany zestaw znaków"),
                        ("SocksPoziom=6", "nie jest poziomem SOCKS"),
                        ("Nieznane=1", "nieznane ustawienie")):
        r = set_values("Style=0", bad)
        with open(HIVE, "rb") as f:
            after = f.read()
        if r.returncode != 2 or reason not in r.stderr.decode() or after != before:
            fail(f"--set {bad}: rc {r.returncode}, {r.stderr.decode()!r}, file changed: "
                 f"{after != before}")
    ok("--set refuses bad values with exit code 2 and changes nothing")

    # A reader stays connected while the settings move the proxy to a new
    # port with a forced charset.
    staying = Reader(port)
    staying.line()
    new_port = free_port()
    r = set_values("kodowanie=iso-8859-2", f"LocalPort={new_port}", "Logowanie=1",
                   "SocksPoziom=4a", "KodowanieNieoznaczonych=windows-1250",
                   "Szyfrowanie=", "OdciskSerwera=" + "AB:" * 31 + "AB")
    if r.returncode != 0 or stored("Kodowanie") != "iso-8859-2" or \
            stored("LocalPort") != str(new_port) or stored("SocksPoziom") != "4A" or \
            stored("KodowanieNieoznaczonych") != "windows-1250":
        fail(f"--set good values: rc {r.returncode} {r.stderr.decode()!r}")
    proxy.proc.send_signal(signal.SIGHUP)
    proxy.wait_line(r"^<6>Ustawienia odczytane ponownie z pliku ", "reload line")
    proxy.wait_line(rf"^<6>Nasłuchiwanie na porcie {new_port}\.$", "listening on the new port")
    notify.wait(rf"^STATUS=Nasłuchuje na porcie {new_port}, czytelników: 1$", "status, new port")
    if staying.command("GROUP pl.test").startswith(b"211 ") and refused(port):
        ok("SIGHUP moves listening to the new port; the connected reader keeps its session")
    else:
        fail("after SIGHUP the connected reader lost its session or the old port listens")
    staying.command("QUIT")
    staying.rest()
    reader = Reader(new_port)
    reader.line()
    forced = reader.command("XOVER 1", multi=True)
    reader.command("QUIT")
    reader.rest()
    if SUBJECT.encode() in plain and b"\t" + "Zażółć".encode("iso-8859-2") + b"\t" in forced:
        ok("the next reader's overview shows the charset SIGHUP read")
    else:
        fail(f"overview after SIGHUP: {forced!r} (before: {plain!r})")
    if proxy.wait_line(r"^<6>Dziennik: .*224 overview follows", "traffic log entry"):
        ok("with Logowanie on, the traffic log's entries are lines too")

    # A hand edit while it runs survives its end; nothing it did not change
    # is written back.
    r = set_values("ReadAccess=127.0.0.1;10.*")

    # A news server that cannot be reached: the reader's 400 line and the
    # journal line give the same reason.
    dead = free_port()
    set_values(f"Address=127.0.0.1:{dead}")
    proxy.proc.send_signal(signal.SIGHUP)
    if wait_until(lambda: sum(1 for l in proxy.lines if l and "odczytane ponownie" in l) >= 2):
        reader = Reader(new_port)
        line = reader.line().decode().rstrip("\r\n")
        reader.rest()
        m = re.match(rf"^400 Brak połączenia z serwerem grup (127\.0\.0\.1:{dead}): (.+)$", line)
        if not m:
            fail(f"unreachable server: reader got {line!r}")
        elif proxy.wait_line(r"^<4>Czytelnik 127\.0\.0\.1: brak połączenia z serwerem grup " +
                             re.escape(m.group(1) + ": " + m.group(2)) + "$",
                             "news server failure line"):
            ok("a news-server failure is one warning with the reader's reason")
    else:
        fail("the second SIGHUP was not read")

    # A second copy on the same settings folder.
    second = Proxy()
    rc = second.wait_exit()
    line = second.wait_line(rf"^<3>Sitowiak już działa \(PID {proxy.proc.pid}\) z ustawieniami "
                            rf"z folderu {re.escape(os.path.join(CONFIG, 'sitowiak'))}\.",
                            "second copy")
    if rc == 1 and line:
        ok("a second copy names the first one's PID and exits 1")
    else:
        fail(f"second copy: exit code {rc}")

    # The end: STOPPING=1, its line, exit 0, and the hand edit kept.
    rc = proxy.stop()
    notify.wait(r"^STOPPING=1$", "STOPPING=1")
    proxy.wait_line(r"^<6>Sitowiak kończy pracę \(kod wyjścia 0\)\.$", "end line")
    if rc == 0 and stored("ReadAccess") == "127.0.0.1;10.*":
        ok("SIGTERM ends it with 0, and a value set meanwhile survives")
    else:
        fail(f"end: exit code {rc}, ReadAccess {stored('ReadAccess')!r}")
    bad = [l for l in proxy.lines if l is not None and not re.match(r"^<[346]>", l)]
    if bad:
        fail(f"lines without a priority: {bad}")

    # A port another program holds: the message names it, the exit code is
    # 1, and the stored choice to listen stays for the next start.
    holder = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    holder.bind(("::", 0))
    holder.listen(1)
    taken = holder.getsockname()[1]
    set_values(f"LocalPort={taken}", "Aktywne=1")
    blocked = Proxy()
    rc = blocked.wait_exit()
    line = blocked.wait_line(rf"^<3>Error 10048 .*Port {taken} jest już zajęty przez program "
                             rf"python3? \(PID {os.getpid()}\)", "port in use")
    if rc == 1 and line and stored("Aktywne") == "1":
        ok("a port in use ends it with 1, names the holder and keeps Aktywne")
    else:
        fail(f"port in use: exit code {rc}, Aktywne {stored('Aktywne')!r}")
    holder.close()
    again = Proxy(notify.path)
    notify.seen.clear()
    if notify.wait(r"^READY=1$", "READY=1 once the port is free"):
        ok("with the port free the next start listens")
    again.stop()

    # Nobody reads standard error: with the traffic log on, the lines fill
    # the pipe, and the relay goes on all the same. Once read, the lines
    # kept come out whole, and the dropped ones are counted once.
    port = free_port()
    write_hive({"LocalPort": port, "Address": f"127.0.0.1:{server.port}", "Logowanie": 1})
    deaf = subprocess.Popen([PROGRAM], env=env(), cwd=WORK, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    started.append(deaf)
    if not wait_until(lambda: not refused(port)):
        fail("the proxy with an unread standard error did not listen")
    reader = Reader(port)
    reader.line()
    replies = 0
    try:
        for _ in range(300):
            if b"\r\n.\r\n" in reader.command("XOVER 1-999999999" + "9" * 1500, multi=True):
                replies += 1
    except OSError as e:
        fail(f"the relay stalled behind standard error: {e}")
    reader.command("QUIT")
    reader.rest()
    deaf.send_signal(signal.SIGTERM)
    _, err = deaf.communicate(timeout=20)
    text = err.decode("utf-8", "replace")
    counts = re.findall(r"^<4>Pominięto wiersze komunikatów \((\d+)\): standardowe wyjście "
                        r"błędów nie nadążało\.$", text, re.M)
    broken = [l for l in text.split("\n") if l and not re.match(r"^<[346]>", l)]
    if replies == 300 and deaf.returncode == 0 and len(counts) == 1 and not broken:
        ok(f"an unread standard error never holds the relay ({counts[0]} lines dropped)")
    else:
        fail(f"unread standard error: {replies} replies, exit {deaf.returncode}, "
             f"reports {counts}, broken lines {broken[:3]}")


try:
    main()
finally:
    for proc in started:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    shutil.rmtree(WORK, ignore_errors=True)
if failures:
    sys.exit(1)
print("all headless service checks passed")
