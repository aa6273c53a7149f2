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
import os
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


def run(args, data: bytes, mode="article") -> bytes:
    r = subprocess.run([TOOL, mode] + args, input=data, capture_output=True)
    check(r.returncode == 0, f"{mode} {args}: exit status {r.returncode} {r.stderr!r}")
    return r.stdout


def fetched(article: bytes, kodowanie="", zawartosc="", style=False, undeclared="") -> bytes:
    """An ARTICLE reply through the proxy: the article without its status line."""
    status = b"220 1 <a@example> article\r\n"
    args = ["--status"]
    if kodowanie:
        args += ["--charset", kodowanie]
    if undeclared:
        args += ["--undeclared-charset", undeclared]
    if zawartosc:
        args += ["--content-type", zawartosc]
    if style:
        args.append("--style")
    out = run(args, status + wire(article))
    return out[len(status):] if out.startswith(status) else b".\r\n"


def posted(article: bytes, kodowanie="") -> bytes:
    args = ["--footer"]
    if kodowanie:
        args += ["--source-charset", kodowanie, "--charset", kodowanie]
    return run(args, wire(article)) or b".\r\n"


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

# 5. Shapes kept as files in shapes/, each named for what it is.
SHAPES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "shapes")


def shape(name):
    with open(os.path.join(SHAPES, name), "rb") as f:
        return f.read()


def text_of(msg):
    part = next(p for p in msg.walk() if p.get_content_type() == "text/plain")
    return part.get_content_charset(), part.get_content().replace("\r\n", "\n")


# The charset parameter in every form MIME allows is read, the body
# converted and the label written charset="...".
for name in ["charset-name-capitalised.eml", "charset-blanks-around-equals.eml",
             "charset-rfc2231-form.eml", "charset-folded-with-comment.eml"]:
    for kod in ["utf-8", "windows-1250"]:
        out = fetched(shape(name), kod)
        cs, text = text_of(parse(out))
        check(cs == kod and text == TEXT, f"{name} Kodowanie={kod}: {cs} {text!r}")
        check(f'charset="{kod}"'.encode() in out.split(b"\r\n\r\n")[0], f"{name}: label form")
        check(not defects(parse(out)), f"{name}: defects {defects(parse(out))}")

# Labels that lie: UTF-8 and windows-1250 under iso-8859-2 are read as what
# they are, from the server and in a post; iso-8859-2 under utf-8 is left
# as it came, or read in the charset for unlabelled text.
for name in ["utf-8-body-labelled-iso-8859-2.eml", "windows-1250-body-labelled-iso-8859-2.eml"]:
    for kod in ["utf-8", "windows-1250"]:
        cs, text = text_of(parse(fetched(shape(name), kod)))
        check(cs == kod and text == TEXT, f"{name} Kodowanie={kod}: {cs} {text!r}")
        cs, text = text_of(parse(posted(shape(name), kod)))
        check(cs == kod and text == TEXT + FOOTER, f"post {name} Kodowanie={kod}: {cs} {text!r}")
name = "iso-8859-2-body-labelled-utf-8.eml"
check(fetched(shape(name), "windows-1250") == wire(shape(name)), f"{name} changed")
cs, text = text_of(parse(fetched(shape(name), "windows-1250", undeclared="iso-8859-2")))
check(cs == "windows-1250" and text == TEXT, f"{name} read in iso-8859-2: {cs} {text!r}")

# The charset for unlabelled text: without it an unlabelled 8-bit body is
# left as it came; with it the body is read in it, and the Content-Type
# added comes with MIME-Version.
name = "unlabelled-iso-8859-2-body.eml"
check(fetched(shape(name), "utf-8") == wire(shape(name)), f"{name} changed")
msg = parse(fetched(shape(name), "utf-8", undeclared="iso-8859-2"))
cs, text = text_of(msg)
check(cs == "utf-8" and text == TEXT and msg["MIME-Version"] == "1.0", f"{name}: {cs} {text!r}")


def overview(data: bytes, *args) -> list:
    out = run(list(args), b"224 ok\r\n" + data, "overview")
    if not (out.startswith(b"224 ok\r\n") and out.endswith(b"\r\n.\r\n")):
        check(False, f"overview {args}: {out!r}")
        return []
    return [l.split(b"\t") for l in out[len(b"224 ok\r\n"):-len(b".\r\n")].split(b"\r\n")[:-1]]


# Raw 8-bit overview lines: with Kodowanie forced a raw UTF-8 subject (a
# modern server) is kept and re-encoded; one that cannot be read goes,
# unless the charset for unlabelled text reads it. Nothing forced: every
# raw line goes, as the checkbox says.
data = shape("overview-raw-utf-8-and-iso-8859-2-subjects.txt")
for kod in ["utf-8", "windows-1250"]:
    for undeclared, numbers in [("", [b"1", b"3"]), ("iso-8859-2", [b"1", b"2", b"3"])]:
        args = ["--charset", kod, "--ignore-raw"] + (["--undeclared-charset", undeclared] if undeclared else [])
        lines = overview(data, *args)
        check([l[0] for l in lines] == numbers, f"overview {args}: lines {[l[0] for l in lines]}")
        subjects = [l[1].decode(kod) for l in lines]
        want = ["Re: Zażółć gęślą jaźń"] * (len(numbers) - 1) + ["Zażółć"]
        check(subjects == want, f"overview {args}: {subjects}")
check([l[0] for l in overview(data, "--ignore-raw")] == [b"3"], "overview, nothing forced")

# Text that only looks like an encoded word stays exactly as it is.
data = shape("overview-text-like-encoded-words.txt")
for kod in ["utf-8", "windows-1250", "us-ascii"]:
    lines = overview(data, "--charset", kod, "--ignore-raw")
    check([l[1] for l in lines] == [b"Pytanie: czy x=?y jest prawda?",
                                     b"Re: =?utf-8?Q?niedoko=C5=84czone", b"a =?x?X?y?= b"],
          f"overview Kodowanie={kod}: {[l[1] for l in lines]}")

# A post reaches the server as written: a multipart post keeps its
# indented lines (they are quoted only in articles being read), and a post
# that gets a Content-Type gets MIME-Version too.
CODE = "Przykład:\n\n  int main() {\n      return 0;\n  }\n"
for kod in ["", "utf-8", "windows-1250"]:
    cs, text = text_of(parse(posted(shape("multipart-post-with-indented-code.eml"), kod)))
    check(text == (CODE + FOOTER)[:-1], f"indented post Kodowanie={kod or '-'}: {text!r}")
# Quoting is the display choice of an article the proxy rewrites anyway;
# with nothing forced an article passes as it came.
cs, text = text_of(parse(fetched(shape("multipart-post-with-indented-code.eml"), "utf-8")))
check(">int main()" in text, f"indented article being read is quoted: {text!r}")
cs, text = text_of(parse(fetched(shape("multipart-post-with-indented-code.eml"))))
check("  int main()" in text, f"nothing forced, nothing quoted: {text!r}")
msg = parse(posted(shape("post-without-mime-headers.eml"), "windows-1250"))
cs, text = text_of(msg)
check(msg["MIME-Version"] == "1.0" and cs == "windows-1250" and text == TEXT + FOOTER,
      f"post without MIME headers: {msg['MIME-Version']} {cs} {text!r}")

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
