#!/usr/bin/env python3
"""Runs Python's email package on the other side of the codecs.

Reads one request per line from stdin, "<op> <arg> ...", every argument hex-encoded ("-"
for an empty one), and prints one hex-encoded result per line in the same order:

  header <text>            decode_header + make_header of an encoded header value (UTF-8)
  body <cte> <text>        a message body in that transfer encoding, decoded to bytes
                           (through the base64 and quopri modules)
  hencode <charset> <utf8> Header(text, charset).encode()
  word <B|Q> <charset> <utf8>  one charset's header_encode with the B or Q form forced
  b64encode <bytes>        base64.encodebytes (76-character lines, LF)
  qpencode <bytes>         quopri.encodestring
  qpbody <utf8>            a UTF-8 text body in quoted-printable, as email.charset writes it
"""
import base64
import email
import email.charset
import email.policy
import quopri
import sys
from email.header import Header, decode_header, make_header


def run(op, args):
    if op == "header":
        return str(make_header(decode_header(args[0].decode("ascii")))).encode("utf-8")
    if op == "body":
        raw = (b"Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: "
               + args[0] + b"\r\n\r\n" + args[1])
        return email.message_from_bytes(raw, policy=email.policy.compat32).get_payload(
            decode=True)
    if op == "hencode":
        return Header(args[1].decode("utf-8"), args[0].decode("ascii")).encode().encode("ascii")
    if op == "word":
        cs = email.charset.Charset(args[1].decode("ascii"))
        cs.header_encoding = email.charset.BASE64 if args[0] == b"B" else email.charset.QP
        return cs.header_encode(args[2].decode("utf-8")).encode("ascii")
    if op == "b64encode":
        return base64.encodebytes(args[0])
    if op == "qpencode":
        return quopri.encodestring(args[0])
    if op == "qpbody":
        cs = email.charset.Charset("utf-8")
        cs.body_encoding = email.charset.QP
        return cs.body_encode(args[0].decode("utf-8")).encode("ascii")
    raise ValueError("unknown op " + op)


def main():
    for line in sys.stdin:
        fields = line.split()
        if not fields:
            continue
        args = [b"" if f == "-" else bytes.fromhex(f) for f in fields[1:]]
        print(run(fields[0], args).hex(), flush=True)


if __name__ == "__main__":
    main()
