#!/usr/bin/env python3
"""Builds examples/sample.eml, the message the examples and the host program's tests use.

Standard library only. The output is fixed: the boundaries, the date and the message ids
are constants, and the PNG is drawn here, so running the script again gives the same bytes.

    python3 examples/make_examples.py [OUTPUT]    (default: sample.eml beside this script)
"""

import base64
import struct
import sys
import zlib
from email import policy
from email.header import Header
from email.message import EmailMessage, Message
from pathlib import Path

# CRLF line ends, as MIME travels; header lines written as given, never refolded.
CRLF = policy.SMTP.clone(refold_source="none")


def png_bytes(width=8, height=8):
    """A small real PNG: an 8x8 RGB gradient with a dark diagonal."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter type: none
        for x in range(width):
            if x == y:
                rows += bytes((20, 20, 60))
            else:
                rows += bytes((32 * x, 32 * y, 200))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def text_part(text, charset, cte, subtype="plain"):
    part = EmailMessage(policy=CRLF)
    part.set_content(text, subtype=subtype, charset=charset, cte=cte)
    del part["MIME-Version"]  # only the message itself carries it
    return part


def alternative():
    alt = EmailMessage(policy=CRLF)
    alt.make_alternative()
    alt.set_boundary("=_alt_7f3a")
    alt.attach(text_part(
        "Grüße aus Köln!\n\nThe attachments: a drawing, the price list (€ 12,50 per "
        "crate), a note in Latin-1 and one in Russian, and the message we answered.\n",
        "utf-8", "quoted-printable"))
    alt.attach(text_part(
        "<html><head>\n"
        '<meta http-equiv="Content-Type" content="text/html; charset=utf-8">\n'
        "<title>Grüße</title></head>\n"
        "<body><p>Grüße aus <b>Köln</b>!</p>\n"
        '<p><img src="cid:dot@example.org" alt="drawing"></p></body></html>\n',
        "utf-8", "quoted-printable", subtype="html"))
    return alt


def inline_image():
    image = EmailMessage(policy=CRLF)
    image.set_content(png_bytes(), maintype="image", subtype="png", cte="base64",
                      disposition="inline", filename="dot.png", cid="<dot@example.org>")
    del image["MIME-Version"]
    return image


def attachment_with_encoded_name():
    # Written by hand so the non-ASCII name is an RFC 2047 encoded word, as many mail
    # programs send it, rather than Python's RFC 2231 form.
    name = Header("Preisliste März.txt", "utf-8").encode()
    part = Message(policy=policy.compat32)
    part["Content-Type"] = 'text/plain; charset="utf-8"; name="%s"' % name
    part["Content-Transfer-Encoding"] = "base64"
    part["Content-Disposition"] = 'attachment; filename="%s"' % name
    body = "Äpfel   12,50 €\r\nBirnen  14,00 €\r\nQuitten 19,90 €\r\n".encode("utf-8")
    part.set_payload(base64.encodebytes(body).decode("ascii"))
    return part


def forwarded_message():
    inner = EmailMessage(policy=CRLF)
    inner["From"] = "Ana Lopes <ana@example.net>"
    inner["To"] = "Jörg Weber <joerg@example.org>"
    inner["Subject"] = "Bestellung"
    inner["Date"] = "Mon, 03 Jun 2024 09:15:00 +0200"
    inner["Message-ID"] = "<order-4711@example.net>"
    inner.set_content("Please send 20 crates of apples.\n", charset="us-ascii", cte="7bit")
    outer = EmailMessage(policy=CRLF)
    outer.set_content(inner, disposition="inline")
    del outer["MIME-Version"]
    return outer


def build():
    msg = EmailMessage(policy=CRLF)
    msg["From"] = "Jörg Weber <joerg@example.org>"
    msg["To"] = "Ana Lopes <ana@example.net>, =?utf-8?q?Bj=C3=B6rn?= <bjorn@example.com>"
    msg["Subject"] = "Grüße, die Preisliste und ein Bild"
    msg["Date"] = "Tue, 04 Jun 2024 10:30:00 +0200"
    msg["Message-ID"] = "<sample-1@example.org>"
    msg["MIME-Version"] = "1.0"
    msg.make_mixed()
    msg.set_boundary("=_mixed_1c2b")
    msg.attach(alternative())
    msg.attach(inline_image())
    msg.attach(attachment_with_encoded_name())
    msg.attach(text_part("Notiz: Ça coûte très cher, señor.\n", "iso-8859-1", "8bit"))
    msg.attach(text_part("Привет! Ящики отправлены.\n", "koi8-r", "base64"))
    msg.attach(forwarded_message())
    msg.preamble = "This is a multi-part message in MIME format."
    return msg


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("sample.eml")
    out.write_bytes(build().as_bytes(policy=CRLF))


if __name__ == "__main__":
    main()
