"""Benchmarks of the article filter, run by run.sh. Every ratio compares
runs made side by side in this process; nothing here is a timed test.

Times are the CPU time (user + system) of the measured process, from
wait4: the programs are single-threaded, so on an idle machine this is the
wall time, and on a shared one it does not count the time spent waiting for
a core, which made wall-clock ratios swing by a factor of 2 to 4 here."""
import os
import random
import subprocess
import sys
import tempfile

TOOL = sys.argv[1]
QUICK = "--quick" in sys.argv[2:]
MB = 1024 * 1024
failures = []

WORDS = ("zażółć gęślą jaźń pchnąć w tę łódź jeża lub ośm skrzyń fig "
         "news usenet grupa artykuł odpowiedź serwer czytnik proxy the and of").split()


def polish_lines(count, seed, prefix=""):
    rng = random.Random(seed)
    return [prefix + " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 12)))
            for _ in range(count)]


def repeat_to(block, size):
    """`block` (whole CR LF lines) repeated to about `size` bytes, whole lines."""
    out = block * (size // len(block) + 1)
    return out[:out.rfind(b"\r\n", 0, size) + 2]


BLOCK_8859_2 = ("\r\n".join(polish_lines(20000, 1)) + "\r\n").encode("iso-8859-2")
BLOCK_QUOTED = ("\r\n".join(polish_lines(20000, 2, "    ")) + "\r\n").encode("iso-8859-2")


def plain_article(size):
    return (b"220 1 <p@bench> article\r\nFrom: a@b\r\nSubject: bench\r\n"
            b"Content-Type: text/plain; charset=iso-8859-2\r\n\r\n"
            + repeat_to(BLOCK_8859_2, size) + b".\r\n")


def multipart_article(size):
    quoted = repeat_to(BLOCK_QUOTED, size * 9 // 10)
    html = repeat_to(b"<p>tekst <b>pogrubiony</b></p>\r\n", size // 10)
    return (b"220 1 <m@bench> article\r\nFrom: a@b\r\n"
            b"Content-Type: multipart/alternative; boundary=\"=_b\"\r\n\r\npreamble\r\n"
            b"--=_b\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n" + quoted +
            b"--=_b\r\nContent-Type: text/html\r\n\r\n" + html + b"--=_b--\r\n.\r\n")


def posted_article(size):
    body = repeat_to(("\r\n".join(polish_lines(20000, 3)) + "\r\n").encode("utf-8"), size)
    return b"From: a@b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + body + b".\r\n"


def overview_block():
    rng = random.Random(4)
    lines = []
    for i in range(10000):
        subject = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 9)))
        kind = rng.random()
        if kind < 0.45:
            subject = subject.encode("ascii", "replace").decode()
        elif kind < 0.7:
            q = "".join(c if c.isascii() and c != " " else
                        "_" if c == " " else "".join("=%02X" % b for b in c.encode("iso-8859-2"))
                        for c in subject)
            subject = "=?iso-8859-2?Q?" + q + "?="
        elif kind < 0.85:
            q = "".join(c if c.isascii() and c != " " else
                        "_" if c == " " else "".join("=%02X" % b for b in c.encode("utf-8"))
                        for c in subject)
            subject = "Re: =?UTF-8?Q?" + q + "?="
        author = "=?iso-8859-2?Q?Pl=B1skun?= <p@example.pl>" if rng.random() < 0.5 else "a@b.pl"
        lines.append("%d\t%s\t%s\tMon, 7 Dec 2026 08:00:00 +0100\t<m%d@bench>\t<r%d@bench>\t%d\t%d"
                     % (i, subject, author, i, i, rng.randint(500, 9000), rng.randint(5, 200)))
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


OVERVIEW_BLOCK = overview_block()
OVERVIEW_LINE_COUNT = OVERVIEW_BLOCK.count(b"\r\n")


def overview_reply(lines):
    whole, rest = divmod(lines, OVERVIEW_LINE_COUNT)
    part = OVERVIEW_BLOCK.split(b"\r\n")[:rest]
    tail = b"".join(line + b"\r\n" for line in part)
    return b"224 Overview follows\r\n" + OVERVIEW_BLOCK * whole + tail + b".\r\n"


def run_once(args, path):
    """CPU seconds and peak resident bytes of one run, output to /dev/null."""
    with open(path, "rb") as stdin:
        proc = subprocess.Popen(args, stdin=stdin, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        seconds = usage.ru_utime + usage.ru_stime
        proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise SystemExit("%s failed with %d" % (" ".join(args), proc.returncode))
    return seconds, usage.ru_maxrss * 1024


# Peak memory is read from a small launcher process: a child forked from this
# process (which holds the generated data) would count this process's
# resident pages in its own high-water mark.
PEAK_LAUNCHER = """
import os, subprocess, sys
with open(sys.argv[1], "rb") as stdin:
    proc = subprocess.Popen(sys.argv[2:], stdin=stdin, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
print(os.waitstatus_to_exitcode(status), usage.ru_maxrss * 1024)
"""


def peak_memory(args, path):
    """Peak resident bytes of one run (including the launcher's own, small, pages)."""
    out = subprocess.run([sys.executable, "-c", PEAK_LAUNCHER, path] + args,
                         check=True, capture_output=True, text=True).stdout.split()
    if int(out[0]) != 0:
        raise SystemExit("%s failed with %s" % (" ".join(args), out[0]))
    return int(out[1])


def best(args, path, min_total=0.6, min_runs=3, max_runs=15):
    """The fastest of several runs (the least disturbed), and the peak memory."""
    times, peak, total = [], 0, 0.0
    while len(times) < min_runs or (total < min_total and len(times) < max_runs):
        seconds, rss = run_once(args, path)
        times.append(seconds)
        total += seconds
        peak = max(peak, rss)
    return min(times), peak


def write(data, directory, name):
    path = os.path.join(directory, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def check(label, value, limit):
    ok = value <= limit
    if not ok:
        failures.append(label)
    print("  %-62s %6.3f  (limit %.2f) %s" % (label, value, limit, "ok" if ok else "FAILED"))


def linear(title, sizes, make, args, unit, directory):
    """Each doubling is measured as a pair: runs of n and of 2n interleaved
    (at least 5 rounds, more while a round is short), the fastest of each
    compared, so that load from elsewhere on the machine hits both alike."""
    print(title)
    paths = {}

    def path_for(size):
        if size not in paths:
            paths[size] = write(make(size), directory, "input-%d" % size)
        return paths[size]

    for small, big in zip(sizes, sizes[1:]):
        a, b = path_for(small), path_for(big)
        ta, tb = [], []
        rounds = 5
        while len(ta) < rounds:
            ta.append(run_once([TOOL] + args, a)[0])
            tb.append(run_once([TOOL] + args, b)[0])
            if len(ta) == 1:
                rounds = max(5, min(40, int(2.0 / (ta[0] + tb[0])) + 1))
        os.remove(paths.pop(small))
        check("%s: %.4f s, %s: %.4f s" % (label(small, unit), min(ta), label(big, unit), min(tb)),
              (min(tb) / min(ta)) / (big / small), 1.10)
    for path in paths.values():
        os.remove(path)


def label(size, unit):
    return "%d %s" % (size // MB, unit) if unit == "MB" else "{:,}".format(size)


def main():
    with tempfile.TemporaryDirectory(prefix="sitowiak-bench-") as d:
        top = 16 if QUICK else 256
        sizes = [MB << k for k in range(0, top.bit_length()) if (MB << k) <= top * MB]
        print("sitowiak-filter benchmarks (%s)" % ("quick" if QUICK else "full"))
        print("CPU times (user + system) of each run; ratios of the fastest runs")
        print("Linear cost: normalised ratio (t2/t1)/(n2/n1); doubling may cost at most 2x +10%")
        linear("  text/plain iso-8859-2 -> utf-8 (article --status --charset utf-8)", sizes,
               plain_article, ["article", "--status", "--charset", "utf-8"], "MB", d)
        linear("  multipart/alternative, quoted text/plain part, html part removed", sizes,
               multipart_article,
               ["article", "--status", "--charset", "utf-8", "--content-type", "text/plain"], "MB", d)
        linear("  posted utf-8 article with footer", sizes, posted_article,
               ["article", "--footer", "--charset", "utf-8", "--source-charset", "utf-8"], "MB", d)
        counts = [10000 << k for k in range(0, 8 if not QUICK else 4)]
        if not QUICK:
            counts.append(2000000)
        linear("  overview (--charset windows-1250 --ignore-raw)", counts, overview_reply,
               ["overview", "--charset", "windows-1250", "--ignore-raw"], "lines", d)

        print("A multipart article whose text/plain part has 200 000 lines to be quoted")
        lines = 200000 if not QUICK else 20000
        block = ("\r\n".join(polish_lines(lines, 5, "  > ")) + "\r\n").encode("iso-8859-2")
        art = (b"220 1 <q@bench>\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
               b"--b\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n" + block + b"--b--\r\n.\r\n")
        path = write(art, d, "quoted")
        seconds, _ = best([TOOL, "article", "--status"], path)
        print("    %d lines, %.1f MB: %.4f s" % (lines, len(art) / MB, seconds))
        os.remove(path)

        print("Against iconv, measured side by side")
        size = 100 * MB if not QUICK else 10 * MB
        body = repeat_to(BLOCK_8859_2, size)
        body_path = write(body, d, "body")
        art_path = write(b"From: a@b\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n" + body + b".\r\n", d, "art")
        tool, iconv = [], []
        for _ in range(3):
            tool.append(run_once([TOOL, "article", "--charset", "utf-8"], art_path))
            iconv.append(run_once(["iconv", "-f", "ISO-8859-2", "-t", "UTF-8"], body_path))
        t_tool, t_iconv = min(t for t, _ in tool), min(t for t, _ in iconv)
        print("    %d MB body: sitowiak-filter %.3f s, iconv %.3f s" % (len(body) // MB, t_tool, t_iconv))
        check("re-encoding iso-8859-2 -> utf-8 / iconv", t_tool / t_iconv, 1.5)
        peak = peak_memory([TOOL, "article", "--charset", "utf-8"], art_path)
        os.remove(body_path)

        count = 1000000 if not QUICK else 100000
        ov_path = write(overview_reply(count), d, "overview")
        tool, iconv = [], []
        for _ in range(3):
            tool.append(run_once([TOOL, "overview", "--charset", "windows-1250", "--ignore-raw"], ov_path)[0])
            iconv.append(run_once(["iconv", "-c", "-f", "UTF-8", "-t", "WINDOWS-1250"], ov_path)[0])
        print("    XOVER %s lines (%d MB): sitowiak-filter %.3f s, iconv %.3f s"
              % ("{:,}".format(count), os.path.getsize(ov_path) // MB, min(tool), min(iconv)))
        check("XOVER --charset windows-1250 --ignore-raw / iconv", min(tool) / min(iconv), 3.0)
        os.remove(ov_path)

        print("Peak memory while rewriting one article (resident bytes / article size;")
        print("  the process's own pages included, so small articles show more)")
        check("%d MB text/plain re-encoded to utf-8" % (os.path.getsize(art_path) // MB),
              peak / os.path.getsize(art_path), 3.0)
        os.remove(art_path)
        for name, make, args in (
                ("multipart, quoted, html removed", multipart_article,
                 ["article", "--status", "--charset", "utf-8", "--content-type", "text/plain"]),
                ("posted utf-8 with footer", posted_article,
                 ["article", "--footer", "--charset", "utf-8", "--source-charset", "utf-8"])):
            path = write(make(size), d, "input")
            rss = peak_memory([TOOL] + args, path)
            check("%d MB %s" % (os.path.getsize(path) // MB, name), rss / os.path.getsize(path), 3.0)
            os.remove(path)

    if failures:
        print("FAILED: " + "; ".join(failures))
        sys.exit(1)
    print("All ratios hold.")


main()
