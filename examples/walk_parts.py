#!/usr/bin/env python3
"""walk_parts.py: walk_parts.cpp written for the Python host.

Creates the Mime object by its ProgID, loads a message and prints one line per part, the
same lines as the C++ example:

  <part number>  <content type>  [filename="..."]  <bytes> bytes   (a leaf)
  <part number>  <content type>  <n> parts                         (a container)

The class must be registered first (vormime register).

  python3 examples/walk_parts.py [FILE]     FILE defaults to examples/sample.eml
"""
import sys

import vorlundmime


def walk(part, number):
    line = f"{number}  {part.ContentType}"
    count = part.NumParts
    if count > 0:
        print(f"{line}  {count} parts")
        for i in range(count):
            walk(part.GetPart(i), f"{number}.{i + 1}")
        return
    if part.Filename:
        line += f'  filename="{part.Filename}"'
    print(f"{line}  {len(part.GetBodyBinary() or b'')} bytes")


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "examples/sample.eml"
    mime = vorlundmime.Dispatch("VorlundMime.VorlundMime")
    if mime.LoadMimeFile(path) != 1:
        sys.stderr.write(f"walk_parts.py: LoadMimeFile({path}) failed:\n{mime.LastErrorText}\n")
        return 1
    walk(mime, "1")
    return 0


if __name__ == "__main__":
    sys.exit(main())
