#!/usr/bin/env python3
"""Articles as newsreaders and mail clients write them, rewritten by
sitowiak-filter with the options the proxy uses, and read back with Python's
email package: what a reader decodes must be the text that was written (plus
the footer on a post), and what the filter cannot read must arrive as it
came.

Usage: article_shapes_check.py PATH-TO-sitowiak-filter
Prints one line per failed check and a closing "N passed, N failed" line;
exits 1 when a check fails.
"""
import base64
import email
import email.policy
import quopri
import subprocess
import sys

TOOL = sys.argv[1]
KODOWANIE = ["utf-8", "windows-1250", "us-ascii"]
ZAWARTOSC = ["", "text/plain", "text/html"]
TEXT = "Zażółć gęślą jaźń.\nDrugi wiersz, ĄĘŚ.\n"
passed = failed = 0


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print("FAIL:", what)


def wire(article: bytes) -> bytes:
    """LF lines to the NNTP form: CR LF, dot-stuffed, ending with "."."""
    lines = article.replace(b"\r\n", b"\n").split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    out = [b"." + l if l.startswith(b".") else l for l in lines]
    return b"".join(l + b"\r\n" for l in out) + b".\r\n"


def unwire(data: bytes) -> bytes:
    assert data.endswith(b"\r\n.\r\n") or data == b".\r\n", data[-20:]
    lines = data[: -len(b".\r\n")].split(b"\r\n")[:-1]
    return b"".join((l[1:] if l.startswith(b"..") else l) + b"\r\n" for l in lines)


def run(args, data: bytes) -> bytes:
    r = subprocess.run([TOOL, "article"] + args, input=data, capture_output=True, check=True)
    return r.stdout


def fetched(article: bytes, kodowanie="", zawartosc="", style=False) -> bytes:
    """An ARTICLE reply through the proxy: the article without its status line."""
    status = b"220 1 <a@example> article\r\n"
    args = ["--status"]
    if kodowanie:
        args += ["--charset", kodowanie]
    if zawartosc:
        args += ["--content-type", zawartosc]
    if style:
        args.append("--style")
    out = run(args, status + wire(article))
    assert out.startswith(status)
    return out[len(status):]


def posted(article: bytes, kodowanie="") -> bytes:
    args = ["--footer"]
    if kodowanie:
        args += ["--source-charset", kodowanie, "--charset", kodowanie]
    return run(args, wire(article))


def parse(data: bytes):
    return email.message_from_bytes(unwire(data), policy=email.policy.default)


def defects(msg):
    return [d for part in msg.walk() for d in part.defects]


def footer_text():
    out = run(["--footer"], b"\r\nx\r\n.\r\n")
    return out[len(b"\r\nx\r\n"):-len(b".\r\n")].decode("ascii").replace("\r\n", "\n")


FOOTER = footer_text()


def header(charset=None, cte=None, ctype="text/plain", extra=""):
    h = ("From: Jan Kowalski <jan@example.pl>\nNewsgroups: pl.test\n"
         "Subject: =?UTF-8?Q?Za=C5=BC=C3=B3=C5=82=C4=87?=\n"
         "Message-ID: <x1@example.pl>\nMIME-Version: 1.0\n")
    if charset:
        h += f'Content-Type: {ctype}; charset={charset}; format=flowed\n'
    if cte:
        h += f"Content-Transfer-Encoding: {cte}\n"
    return h + extra + "\n"


def encode_body(text: str, charset: str, cte: str) -> bytes:
    if cte == "base64":
        raw = text.replace("\n", "\r\n").encode(charset)
        return base64.encodebytes(raw).replace(b"\n", b"\r\n")
    raw = text.encode(charset)
    if cte == "quoted-printable":  # line breaks stay hard breaks
        raw = quopri.encodestring(raw)
    return raw.replace(b"\n", b"\r\n")


# 1. Posts declared in each charset reach the server in Kodowanie, every
#    letter intact, with the footer; 2. encoded bodies decode cleanly.
for declared in ["utf-8", "iso-8859-2", "windows-1250"]:
    for cte in ["8bit", "quoted-printable", "base64"]:
        article = header(declared, cte).encode() + encode_body(TEXT, declared, cte)
        for kod in KODOWANIE + [""]:
            msg = parse(posted(article, kod))
            name = f"post {declared}/{cte} Kodowanie={kod or '-'}"
            want_cs = kod or declared
            check(msg.get_content_charset() == want_cs, f"{name}: labelled {msg.get_content_charset()}")
            check(not defects(msg), f"{name}: defects {defects(msg)}")
            text = msg.get_content().replace("\r\n", "\n")
            expected = TEXT + FOOTER
            if kod == "us-ascii":  # the user asked for us-ascii: letters become "?"
                expected = expected.encode("ascii", "replace").decode()
            check(text == expected, f"{name}: reads {text!r}")

# A post without a charset: its bytes are taken to be in Kodowanie.
for kod in ["utf-8", "windows-1250"]:
    article = header().encode() + TEXT.replace("\n", "\r\n").encode(kod)
    msg = parse(posted(article, kod))
    check(msg.get_content_charset() == kod and msg.get_content() == TEXT.replace("\n", "\r\n") + FOOTER.replace("\n", "\r\n"),
          f"undeclared post in {kod}")

# 3. Binaries and undeclared 8-bit bodies arrive byte for byte.
yenc_data = bytes(range(256)) * 4
yenc_line = bytearray()
for b in yenc_data:
    c = (b + 42) % 256
    if c in (0, 10, 13, 61):
        yenc_line += bytes([61, (c + 64) % 256])
    else:
        yenc_line.append(c)
yenc = (b"From: poster@example\nNewsgroups: alt.binaries.test\nSubject: plik.bin yEnc (1/1)\n\n"
        b"=ybegin line=128 size=1024 name=plik.bin\n"
        + b"\n".join(bytes(yenc_line[i:i + 128]) for i in range(0, len(yenc_line), 128))
        + b"\n=yend size=1024\n")
uu = (b"From: poster@example\nSubject: plik.txt\n\nOpis pliku.\n\nbegin 644 plik.txt\n"
      b"M6F$_\\[/FCV=E<W1O(&)I;F%R;F4@9&%N92!W(&%R='EK=6QE+B!:82*_\\[/F\n`\nend\n")
premime = (b"From: stary@example\nSubject: stary czytnik\n\n"
           + TEXT.replace("\n", "\r\n").encode("iso-8859-2"))
mislabelled = header("us-ascii").encode() + TEXT.encode("iso-8859-2")
for name, article in [("yEnc", yenc), ("uuencode", uu), ("pre-MIME", premime),
                      ("us-ascii with 8-bit", mislabelled)]:
    for kod in KODOWANIE:
        for zaw in ZAWARTOSC:
            for style in (False, True):
                out = fetched(article, kod, zaw, style)
                check(out == wire(article), f"{name} Kodowanie={kod} Zawartosc={zaw or '-'} changed")

# A Kodowanie the database does not know forces nothing.
latin2 = header("iso-8859-2").encode() + TEXT.encode("iso-8859-2")
check(fetched(latin2, "foo") == wire(latin2), "Kodowanie=foo changed an article")

# 4. Nested multipart, depths 1 to 3, as mail clients write them.
PDF = base64.encodebytes(b"%PDF-1.4\n" + bytes(range(200))).decode()
HTML = "<html><head><STYLE></STYLE></head><body><p>Zażółć gęślą jaźń.</p></body></html>\n"


def alternative(b):
    return (f'Content-Type: multipart/alternative;\n boundary="{b}"\n\n'
            f"--{b}\nContent-Type: text/plain; charset=iso-8859-2\n"
            f"Content-Transfer-Encoding: quoted-printable\n\n"
            + quopri.encodestring(TEXT.encode("iso-8859-2")).decode("ascii")
            + f"--{b}\nContent-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
            + HTML + f"--{b}--\n")


def nested(depth):
    """depth 1: alternative; 2: mixed{alternative, pdf}; 3: mixed{mixed{alternative, pdf}, pdf}."""
    body = alternative("alt-0001")
    for level in range(1, depth):
        b = f"mix-{level:04d}"
        body = (f'Content-Type: multipart/mixed; boundary="{b}"\n\n'
                f"This is a multi-part message in MIME format.\n--{b}\n" + body
                + f"\n--{b}\nContent-Type: application/pdf; name=\"a{level}.pdf\"\n"
                f"Content-Transfer-Encoding: base64\n"
                f"Content-Disposition: attachment; filename=\"a{level}.pdf\"\n\n" + PDF
                + f"--{b}--\n")
    head = ("From: Anna <anna@example.pl>\nNewsgroups: pl.test\nSubject: zagniezdzone\n"
            "MIME-Version: 1.0\n")
    return (head + body).encode("utf-8")


for depth in (1, 2, 3):
    article = nested(depth)
    for zaw in ZAWARTOSC:
        for kod in [""] + KODOWANIE[:2]:
            name = f"nested depth {depth} Zawartosc={zaw or '-'} Kodowanie={kod or '-'}"
            msg = parse(fetched(article, kod, zaw))
            leaves = [p for p in msg.walk() if not p.is_multipart()]
            types = [p.get_content_type() for p in leaves]
            check(not defects(msg), f"{name}: defects {defects(msg)}")
            if zaw:
                check(types == [zaw], f"{name}: parts {types}")
            else:
                check(types.count("application/pdf") == depth - 1 and "text/plain" in types,
                      f"{name}: parts {types}")
            for p in leaves:
                if p.get_content_type() == "text/plain":
                    # The line break before a boundary line belongs to it.
                    text = p.get_content().replace("\r\n", "\n")
                    check(text == TEXT[:-1], f"{name}: plain text reads {text!r}")
                    if kod:
                        check(p.get_content_charset() == kod, f"{name}: plain labelled {p.get_content_charset()}")
                if p.get_content_type() == "text/html":
                    check("Zażółć" in p.get_content(), f"{name}: html text lost")
                if p.get_content_type() == "application/pdf":
                    check(p.get_content().startswith(b"%PDF-1.4\n"), f"{name}: pdf changed")

# A nested post gets the footer in each text part, in its own encoding.
msg = parse(posted(nested(3), "utf-8"))
plain = [p for p in msg.walk() if p.get_content_type() == "text/plain"]
check(len(plain) == 1 and plain[0].get_content().replace("\r\n", "\n") == (TEXT + FOOTER)[:-1]
      and plain[0].get_content_charset() == "utf-8" and not defects(msg), "nested post footer")

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
