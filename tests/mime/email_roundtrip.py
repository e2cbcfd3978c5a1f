#!/usr/bin/env python3
"""Round trip of MIME messages through the VorlundMime loader and writer, judged by Python.

Usage: email_roundtrip.py <round-trip tool> [--xml]

Builds messages with Python's email package, writes each with CRLF and with LF line ends,
runs "<tool> <in> <out>" on each, parses the original and the tool's output with Python and
compares the two trees. Prints one line per mismatch ("message [variant] part: what") and
exits 1 when there is any, 0 otherwise.

With --xml the tool goes through the XML form ("<tool> --xml <in> <out> <xml>": MIME, then
the XML of the tree, then a tree loaded from that XML, then MIME again). The XML must parse
with xml.etree, and the final MIME is compared as above, apart from what the XML form does
not keep: the order of fields, folding, how mailboxes are written (the From and To
mailboxes are compared parsed, display name and address), and the case and separators of
the words after a ";" in a subject (read as parameter names).
"""
import base64
import codecs
import email
import email.policy
import os
import quopri
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from email.generator import BytesGenerator
from email.header import Header, decode_header
from email.message import Message

# One sample text per charset, every character representable in it.
TEXTS = {
    "utf-8": "Grüße aus Köln — Привет, 你好, こんにちは, ✓ €5",
    "iso-8859-1": "Café déjà vu, naïve façade, Grüße, ¡Olé! £5 © ½",
    "iso-8859-2": "Zażółć gęślą jaźń; Příliš žluťoučký kůň úpěl",
    "iso-8859-5": "Съешь же ещё этих мягких французских булок",
    "windows-1250": "Příliš žluťoučký kůň úpěl ďábelské ódy „Łódź“",
    "windows-1251": "Привет, мир! Ґанок — «ёлка» №5",
    "windows-1252": "“Smart quotes” – en dash, € euro, œuvre, Šaš, naïve",
    "koi8-r": "Широкая электрификация южных губерний даст мощный толчок",
    "iso-2022-jp": "日本語のテキスト、カタカナとひらがな。",
    "shift_jis": "東京都港区の天気は晴れです。カタカナ ｶﾀｶﾅ",
    "euc-kr": "안녕하세요, 한국어 텍스트입니다.",
    "big5": "繁體中文測試，臺灣的天氣很好。",
    "gb2312": "简体中文测试，你好世界。",
}

WS = re.compile(r"\s+")


def collapse(s):
    # Our loader joins continuation lines, so where a header was folded differs; only the
    # words and the single blanks between them are meaningful.
    return WS.sub(" ", s).strip()


def canonical_charset(name):
    if name is None:
        return None
    try:
        return codecs.lookup(name).name
    except LookupError:
        return "unknown:" + name.lower()


# --- building -------------------------------------------------------------------------


def encoded_words(text, charset, form):
    """The text as RFC 2047 encoded words in the charset, a few characters per word."""
    words = []
    step = 6
    for i in range(0, len(text), step):
        raw = text[i:i + step].encode(charset)
        if form == "B":
            body = base64.b64encode(raw).decode("ascii")
        else:
            body = "".join(
                chr(b) if (chr(b).isalnum() and b < 0x80) or chr(b) in "!*+-/"
                else "_" if b == 0x20 else "=%02X" % b for b in raw)
        words.append("=?%s?%s?%s?=" % (charset, form, body))
    return " ".join(words)


def encode_body(data, cte):
    if cte == "base64":
        return base64.encodebytes(data).decode("ascii")
    if cte == "quoted-printable":
        return quopri.encodestring(data).decode("ascii")
    # 7bit / 8bit: the bytes themselves; surrogates carry 8-bit bytes through the generator.
    return data.decode("ascii", "surrogateescape")


def leaf(ctype, data, cte, charset=None, params=None, headers=None):
    m = Message()
    m["Content-Type"] = ctype
    if charset is not None:
        m.set_param("charset", charset)
    for k, v in (params or {}).items():
        m.set_param(k, v)
    m["Content-Transfer-Encoding"] = cte
    for k, v in (headers or []):
        m[k] = v
    m.set_payload(encode_body(data, cte))
    return m


def text_leaf(text, charset, cte, subtype="plain"):
    return leaf("text/" + subtype, text.encode(charset), cte, charset)


def multipart(subtype, parts, boundary):
    m = Message()
    m["Content-Type"] = "multipart/" + subtype
    m.set_param("boundary", boundary)
    m.preamble = "This is a multi-part message in MIME format."
    for p in parts:
        m.attach(p)
    return m


def top(m, subject, sender='"Test Sender" <sender@example.com>'):
    """Adds the top-level header fields in front of the entity's own."""
    fields = [("MIME-Version", "1.0"), ("From", sender), ("To", "rcpt@example.org"),
              ("Subject", subject), ("Date", "Mon, 07 Dec 2026 10:00:00 +0000")]
    own = m._headers
    m._headers = []
    for k, v in fields:
        m[k] = v
    m._headers.extend(own)
    return m


def long_text(charset):
    # Several sentences on one line, then short lines and a blank line: quoted-printable
    # needs soft breaks, base64 spans many lines.
    t = TEXTS[charset]
    return (" ".join([t] * 4) + "\n" + t + "\n\n" + "Second paragraph: " + t + "\n")


def binary_blob(n, seed):
    out = bytearray()
    x = seed
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((x >> 16) & 0xFF)
    return bytes(out)


def build_messages():
    msgs = []
    # Plain ASCII in every transfer encoding.
    ascii_text = ("Plain ASCII text with a line long enough to need soft line breaks when "
                  "written as quoted-printable, and tabs\tand trailing spaces   \n"
                  "Second line.\n")
    for cte in ("7bit", "8bit", "quoted-printable", "base64"):
        msgs.append(("ascii-" + cte, top(text_leaf(ascii_text, "us-ascii", cte),
                                          "ASCII body in " + cte)))
    # A plain subject long enough for the generator to fold it.
    msgs.append(("ascii-long-subject", top(text_leaf(ascii_text, "us-ascii", "7bit"),
                                           "A plain subject line that is long enough to be "
                                           "folded by the generator, twice over perhaps, "
                                           "when it keeps going on like this")))
    # Each charset: the body in every transfer encoding that can carry it, the subject as
    # encoded words of that charset (B and Q forms) or through email.header.Header.
    for cs in TEXTS:
        seven = all(b < 0x80 for b in TEXTS[cs].encode(cs))
        for cte in ("7bit" if seven else "8bit", "quoted-printable", "base64"):
            form = "Q" if cte == "quoted-printable" else "B"
            subj = encoded_words(TEXTS[cs][:20], cs, form)
            msgs.append(("%s-%s" % (cs, cte),
                         top(text_leaf(long_text(cs), cs, cte), subj)))
        h = Header(TEXTS[cs][:16], cs).encode()
        msgs.append(("%s-html-header" % cs,
                     top(text_leaf("<p>" + TEXTS[cs] + "</p>\n", cs, "quoted-printable",
                                   "html"), h)))
    msgs.append(("nested", build_nested()))
    msgs.append(("rfc822", build_rfc822()))
    msgs.append(("attachments", build_attachments()))
    return msgs


def attachment(ctype, data, filename, cte="base64"):
    # RFC 2047 encoded words in the quoted parameter, as many mailers write it; RFC 2231
    # (filename*=) is not read by our loader and is not exercised here.
    m = leaf(ctype, data, cte, params={"name": filename})
    m.add_header("Content-Disposition", "attachment", filename=filename)
    return m


def build_nested():
    png = binary_blob(700, 7)
    img = leaf("image/png", png, "base64", headers=[("Content-ID", "<img1@example.com>")])
    img.add_header("Content-Disposition", "inline", filename="pic.png")
    related = multipart("related", [
        text_leaf('<html><body><p>%s</p><img src="cid:img1@example.com"></body></html>\n'
                  % TEXTS["utf-8"], "utf-8", "quoted-printable", "html"),
        img], "rel-boundary-3")
    alternative = multipart("alternative", [
        text_leaf(long_text("iso-8859-2"), "iso-8859-2", "8bit"),
        related], "alt-boundary-2")
    pdf = attachment("application/pdf", binary_blob(3000, 11),
                     encoded_words("Übersicht €.pdf", "utf-8", "B"))
    mixed = multipart("mixed", [alternative, pdf], "mixed-boundary-1")
    return top(mixed, encoded_words("Verschachtelt: " + TEXTS["utf-8"], "utf-8", "Q"))


def build_rfc822():
    inner_alt = multipart("alternative", [
        text_leaf(long_text("koi8-r"), "koi8-r", "8bit"),
        text_leaf("<p>" + TEXTS["koi8-r"] + "</p>\n", "koi8-r", "base64", "html")],
        "inner-alt-boundary")
    inner = top(inner_alt, encoded_words(TEXTS["koi8-r"][:20], "koi8-r", "B"),
                sender=encoded_words("Иван Петров", "koi8-r", "B") + " <ivan@example.ru>")
    wrapper = Message()
    wrapper["Content-Type"] = "message/rfc822"
    wrapper["Content-Disposition"] = "attachment"
    wrapper.set_payload([inner])
    outer = multipart("mixed", [text_leaf("See the attached message.\n", "us-ascii", "7bit"),
                                wrapper], "outer-boundary")
    return top(outer, "Fwd: " + encoded_words(TEXTS["koi8-r"][:20], "koi8-r", "B"))


def build_attachments():
    parts = [text_leaf(long_text("windows-1252"), "windows-1252", "quoted-printable")]
    names = [
        ("utf-8", "B", "Отчёт 2026 — итог.xlsx"),
        ("iso-8859-1", "Q", "Résumé façade.doc"),
        ("windows-1251", "B", "Договор №5.pdf"),
        ("shift_jis", "B", "見積書.txt"),
        ("big5", "B", "報告.zip"),
        ("iso-8859-2", "Q", "Zażółć.bin"),
    ]
    for i, (cs, form, name) in enumerate(names):
        parts.append(attachment("application/octet-stream", binary_blob(500 + 37 * i, i),
                                encoded_words(name, cs, form)))
    # A text attachment whose name and body share a non-Latin charset.
    t = attachment("text/plain", long_text("euc-kr").encode("euc-kr"),
                   encoded_words("메모.txt", "euc-kr", "B"), cte="quoted-printable")
    t.set_param("charset", "euc-kr")
    parts.append(t)
    return top(multipart("mixed", parts, "att-boundary"),
               encoded_words("Anhänge: Übersicht", "iso-8859-1", "Q"))


# --- comparing ------------------------------------------------------------------------


def decoded_header(value):
    """Python's reading of a header value: decode_header, joined the way make_header joins
    (a blank between an encoded word and text touching it), but each chunk decoded from its
    own charset; make_header would re-encode Shift_JIS as ISO-2022-JP and fail on half-width
    katakana."""
    if value is None:
        return None
    out = []
    lastcs = lastspace = None
    for data, cs in decode_header(str(value)):
        text = data if isinstance(data, str) else data.decode(cs or "ascii", "replace")
        nextcs = cs
        if out:
            hasspace = bool(text) and text[0] in " \t()\\"
            if lastcs not in (None, "us-ascii"):
                if nextcs in (None, "us-ascii") and not hasspace:
                    out.append(" ")
                    nextcs = None
            elif nextcs not in (None, "us-ascii") and not lastspace:
                out.append(" ")
        lastspace = bool(text) and text[-1] in " \t()\\"
        lastcs = nextcs
        out.append(text)
    return collapse("".join(out))


WORD = re.compile(r"=\?([^?]+)\?([bBqQ])\?([^?]*)\?=")


def loader_view(value):
    """What our loader makes of a raw header value, as Python decodes each piece.

    By design the loader departs from RFC 2047 and Python in two ways: a continuation line
    loses its first blank (all its leading blanks when it starts with an encoded word), so
    folding never leaves a separator; and whitespace between two adjacent encoded words is
    kept like any other text instead of being dropped. The bytes inside each word are still
    decoded by Python here, so only the whitespace rules are ours.
    """
    if value is None:
        return None
    lines = str(value).replace("\r", "").split("\n")
    joined = lines[0]
    for line in lines[1:]:
        if not line:
            continue
        rest = line.lstrip(" \t")
        joined += rest if rest.startswith("=?") else line[1:]
    out = []
    pos = 0
    for m in WORD.finditer(joined):
        out.append(joined[pos:m.start()])
        ((data, cs),) = decode_header(m.group(0))
        out.append(data.decode(cs) if isinstance(data, bytes) else data)
        pos = m.end()
    out.append(joined[pos:])
    return collapse("".join(out))


def addresses(raw_bytes, name):
    # The address-aware parser, so quoting and encoding choices of the writer do not matter.
    m = email.message_from_bytes(raw_bytes, policy=email.policy.default)
    h = m[name]
    if h is None:
        return None
    return [(collapse(a.display_name), a.addr_spec) for a in h.addresses]


def filename_of(part, view):
    f = part.get_filename()
    return None if f is None else view(f)


def name_param(part, view):
    n = part.get_param("name")
    return None if n is None else view(email.utils.collapse_rfc2231_value(n))


def body_of(part):
    data = part.get_payload(decode=True)
    if data is None:
        data = b""
    if part.get_content_maintype() != "text":
        return data
    cs = part.get_content_charset() or "us-ascii"
    text = data.decode(cs, "replace")
    # Text travels in canonical form (CRLF line ends), which is what our writer produces;
    # an LF original therefore compares with its line ends made CRLF.
    return text.replace("\r\n", "\n")


def semicolons(s):
    # Our writer treats every value holding a ";" as a parameter list and puts the ";"
    # right after the encoded word before it; Python reads "?=;" with a blank inserted.
    return None if s is None else re.sub(r"\s+;", ";", s)


def after_parameters(s):
    """A header text as the XML form gives it back: the writer reads every field as a value
    with parameters, so after the first ";" each blank-separated word is a parameter name,
    lower-cased, and comes back as "; " and the word."""
    if s is None or ";" not in s:
        return s
    head, tail = s.split(";", 1)
    return head + ";" + " ".join(tail.replace(";", " ").lower().split())


def compare(a, b, path, out, as_bytes=False, xml_form=False):
    """as_bytes: inside a message/rfc822 body, which our loader keeps as bytes and writes
    back unchanged, so there both sides are read by Python alone. xml_form: the address
    fields were written anew from their mailboxes, so only their parsed form is compared
    (by the caller)."""
    view = decoded_header if as_bytes else loader_view

    def differ(what, x, y):
        if x != y:
            out.append("%s: %s differs: original %r, ours %r" % (path, what, x, y))

    differ("content type", a.get_content_type(), b.get_content_type())
    differ("charset", canonical_charset(a.get_content_charset()),
           canonical_charset(b.get_content_charset()))
    # The original as our loader reads it; our output as Python reads it.
    differ("filename", filename_of(a, view), filename_of(b, decoded_header))
    differ("name parameter", name_param(a, view), name_param(b, decoded_header))
    differ("disposition", a.get_content_disposition(), b.get_content_disposition())
    differ("content-id", a.get("Content-ID"), b.get("Content-ID"))
    if xml_form and not as_bytes:
        differ("Subject", after_parameters(semicolons(view(a.get("Subject")))),
               after_parameters(semicolons(decoded_header(b.get("Subject")))))
    else:
        for h in ("Subject", "From", "To"):
            differ(h, semicolons(view(a.get(h))), semicolons(decoded_header(b.get(h))))
    if a.get_content_type() != b.get_content_type():
        return
    if a.is_multipart():
        pa, pb = a.get_payload(), b.get_payload()
        differ("number of parts", len(pa), len(pb))
        for i, (x, y) in enumerate(zip(pa, pb)):
            compare(x, y, "%s/%d" % (path, i + 1), out,
                    as_bytes or a.get_content_type() == "message/rfc822", xml_form)
    else:
        x, y = body_of(a), body_of(b)
        if x != y:
            # The first difference is enough to find the fault.
            i = next((k for k in range(min(len(x), len(y))) if x[k] != y[k]),
                     min(len(x), len(y)))
            out.append("%s: body differs at %d (lengths %d, %d): original %r, ours %r"
                       % (path, i, len(x), len(y), x[max(0, i - 20):i + 30],
                          y[max(0, i - 20):i + 30]))


def serialise(msg, linesep):
    import io
    buf = io.BytesIO()
    BytesGenerator(buf, mangle_from_=False, policy=email.policy.compat32.clone(
        linesep=linesep)).flatten(msg)
    return buf.getvalue()


XML_DECL = re.compile(rb'^<\?xml version="1\.0" encoding="([^"]+)" \?>\n')
# XML 1.0 allows no C0 control but tab, LF and CR, not even in CDATA; the XML form carries
# a 7bit or 8bit body's bytes as they are (an ISO-2022-JP text has ESC bytes), which only
# its own reader accepts.
XML_FORBIDDEN = re.compile(rb"[\x00-\x08\x0b\x0c\x0e-\x1f]")


def check_xml(data, label, out):
    """The XML form as xml.etree reads it: well-formed, one mime_message per entity, each
    with a header and a body. Returns how many documents needed their control bytes masked."""
    m = XML_DECL.match(data)
    if m is None:
        out.append("%s: XML declaration missing or unlike ours: %r" % (label, data[:60]))
        return 0
    masked = 1 if XML_FORBIDDEN.search(data) else 0
    data = XML_FORBIDDEN.sub(b"?", data)
    try:
        root = ET.fromstring(data)
    except (ValueError, LookupError):
        # Expat reads no multi-byte charset; the structure is still checked byte for byte.
        root = ET.fromstring(XML_DECL.sub(b'<?xml version="1.0" encoding="ISO-8859-1" ?>\n',
                                          data))
    except ET.ParseError as e:
        out.append("%s: XML form is not well-formed: %s" % (label, e))
        return masked

    def walk(element, path):
        if element.tag != "mime_message":
            out.append("%s: %s is <%s>, not <mime_message>" % (label, path, element.tag))
            return
        header, body = element.find("header"), element.find("body")
        if header is None or body is None:
            out.append("%s: %s lacks a header or a body" % (label, path))
            return
        for i, sub in enumerate(body.findall("subpart")):
            if len(sub) != 1:
                out.append("%s: %s/%d holds %d elements" % (label, path, i + 1, len(sub)))
                continue
            walk(sub[0], "%s/%d" % (path, i + 1))

    walk(root, "/")
    return masked


def count_parts(m):
    return 1 + sum(count_parts(p) for p in m.get_payload()) if m.is_multipart() else 1


def main():
    if len(sys.argv) not in (2, 3) or (len(sys.argv) == 3 and sys.argv[2] != "--xml"):
        print(__doc__)
        return 2
    tool = sys.argv[1]
    xml_form = len(sys.argv) == 3
    problems = []
    checked = 0
    masked = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name, msg in build_messages():
            for variant, linesep in (("crlf", "\r\n"), ("lf", "\n")):
                label = "%s [%s]" % (name, variant)
                raw = serialise(msg, linesep)
                src = os.path.join(tmp, "%s-%s.eml" % (name, variant))
                dst = src + ".out"
                with open(src, "wb") as f:
                    f.write(raw)
                xml_path = src + ".xml"
                args = [tool, "--xml", src, dst, xml_path] if xml_form else [tool, src, dst]
                r = subprocess.run(args, capture_output=True)
                if r.returncode != 0:
                    problems.append("%s: tool failed (%d): %s" % (
                        label, r.returncode, (r.stdout + r.stderr).decode("utf-8", "replace")))
                    continue
                with open(dst, "rb") as f:
                    ours = f.read()
                if re.search(rb"(?<!\r)\n", ours) or re.search(rb"\r(?!\n)", ours):
                    problems.append("%s: output has line ends other than CRLF" % label)
                if xml_form:
                    with open(xml_path, "rb") as f:
                        masked += check_xml(f.read(), label, problems)
                a = email.message_from_bytes(raw, policy=email.policy.compat32)
                b = email.message_from_bytes(ours, policy=email.policy.compat32)
                if b.defects and not a.defects:
                    problems.append("%s: Python finds defects in ours: %r" % (label, b.defects))
                found = []
                compare(a, b, label + " /", found, xml_form=xml_form)
                for h in ("From", "To"):
                    x, y = addresses(raw, h), addresses(ours, h)
                    if x != y:
                        found.append("%s /: %s differs: original %r, ours %r"
                                     % (label, h, x, y))
                problems.extend(found)
                checked += count_parts(a)
    for p in problems:
        print(p)
    if masked:
        print("%d XML documents carried control bytes that XML 1.0 forbids (masked to check "
              "the rest)" % masked)
    print("%d parts compared, %d mismatches" % (checked, len(problems)))
    return 1 if problems or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
