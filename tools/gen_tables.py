#!/usr/bin/env python3
"""Packs the Windows code page mappings into the stored-text form of charset/tables/.

Run it only when a mapping changes; its output is committed and a build never runs it.
See tools/README.md for where each mapping comes from and doc/table_format.md for the
format written here.

    python3 tools/gen_tables.py --wine-nls SRC --codepage-js SRC [--out DIR] [--check]

SRC is either the archive itself (the libwine .deb, the codepage .tgz) or a directory
holding the extracted files. --check writes nothing and fails when the files in DIR differ
from what would be written.
"""

import argparse
import base64
import bz2
import hashlib
import io
import os
import re
import struct
import sys
import tarfile

# --------------------------------------------------------------------------------------
# The code pages
# --------------------------------------------------------------------------------------

SINGLE_BYTE = (
    [37, 437, 500, 708, 720, 737, 775, 850, 852, 855, 857, 858, 860, 861, 862, 863, 864,
     865, 866, 869, 870, 874, 875, 1026, 1047]
    + list(range(1140, 1150)) + list(range(1250, 1259))
    + [10000, 10004, 10005, 10006, 10007, 10010, 10017, 10021, 10029, 10079, 10081, 10082,
       20105, 20106, 20107, 20108, 20127, 20261, 20269, 20273, 20277, 20278, 20280, 20284,
       20285, 20290, 20297, 20420, 20423, 20424, 20838, 20866, 20871, 20880, 20905, 20924,
       21025, 21866]
    + list(range(28591, 28600)) + [28603, 28605, 38598])

# Pages whose Windows tables are not in the Wine set; they come from the codepage package's
# dumps of the Windows conversion functions.
FROM_CODEPAGE_JS = {858, 870, 1047, 1140, 1141, 1142, 1143, 1144, 1145, 1146, 1147, 1148,
                    1149, 20105, 20106, 20107, 20108, 20261, 20269, 20273, 20277, 20278,
                    20280, 20284, 20285, 20290, 20297, 20420, 20423, 20424, 20838, 20871,
                    20880, 20905, 20924, 21025, 38598}

# Python codecs that follow the mapping tables Microsoft published for these pages. They
# tell which bytes of 0x80-0x9F the page really leaves undefined: the Windows conversion
# tables fill such holes with the C1 control of the same number, which is no character of
# the page (0x81 of 1252 must stay unmapped).
PUBLISHED = {37: 'cp037', 437: 'cp437', 500: 'cp500', 720: 'cp720', 737: 'cp737',
             775: 'cp775', 850: 'cp850', 852: 'cp852', 855: 'cp855', 857: 'cp857',
             858: 'cp858', 860: 'cp860', 861: 'cp861', 862: 'cp862', 863: 'cp863',
             864: 'cp864', 865: 'cp865', 866: 'cp866', 869: 'cp869', 874: 'cp874',
             875: 'cp875', 1026: 'cp1026', 1140: 'cp1140', 10000: 'mac_roman',
             10006: 'mac_greek', 10007: 'mac_cyrillic', 10029: 'mac_latin2',
             10079: 'mac_iceland', 10081: 'mac_turkish', 20866: 'koi8_r', 21866: 'koi8_u',
             28603: 'iso8859_13', 28605: 'iso8859_15'}
for _cp in range(1250, 1259):
    PUBLISHED[_cp] = 'cp%d' % _cp
for _i, _cp in enumerate(range(28591, 28600)):
    PUBLISHED[_cp] = 'iso8859_%d' % (_i + 1)

# ISO-8859-1 to -9 put the euro sign on 0x80 (mail marked with these charsets often
# carries it there).
EURO_AT_80 = set(range(28591, 28600))

# Entry counts (single-byte part, double-byte part) every multi-byte list must have.
EXPECTED_MB = {932: (70, 9206), 936: (3, 23940), 949: (3, 17236), 950: (3, 19710),
               51932: (7, 9269), 51949: (3, 8414), 1361: (16, 17252)}

# Reverse-only additions to the multi-byte lists. Their codes are ASCII, which an
# ASCII-transparent table never looks up forward, so they only widen what converts *to*
# the page: a no-break space becomes a space, as in the US-ASCII list, and in Shift-JIS a
# yen sign becomes 0x5C, the yen sign of JIS X 0201 that Japanese fonts show there.
MB_ADDITIONS = {932: [(0x20, 0x00A0), (0x5C, 0x00A5)], 936: [(0x20, 0x00A0)],
                949: [(0x20, 0x00A0)], 950: [(0x20, 0x00A0)], 1361: [(0x20, 0x00A0)]}

PIECE_LIMIT = 59992      # characters per string literal piece (kept below 60000)
LINE_WIDTH = 96          # characters per source line inside a piece
CONTAINER_MAGIC = b'\xE1\xA7\x94\xB3'


class Table:
    """One stored list: entries in stored order, as (code, unit); code < 0x100 is a
    single-byte entry."""

    def __init__(self, cp, ascii_transparent, singles, doubles, marker='c'):
        self.cp = cp
        self.ascii = ascii_transparent
        self.singles = singles
        self.doubles = doubles
        self.marker = marker
        # What lookups in the tables built from the list must give, worked out from the
        # source mapping rather than from the list (the self-check compares the two).
        self.expect_forward = {}
        self.expect_reverse = {}


# --------------------------------------------------------------------------------------
# Sources
# --------------------------------------------------------------------------------------

def _ar_members(blob):
    """Yields (name, data) of a Unix ar archive (the outer layer of a .deb)."""
    if blob[:8] != b'!<arch>\n':
        raise ValueError('not an ar archive')
    pos = 8
    while pos + 60 <= len(blob):
        header = blob[pos:pos + 60]
        name = header[:16].decode('ascii').strip().rstrip('/')
        size = int(header[48:58].decode('ascii').strip())
        pos += 60
        yield name, blob[pos:pos + size]
        pos += size + (size & 1)


class FileSource:
    """Files looked up by base name, from a directory tree or from an archive."""

    def __init__(self, path, wanted_dir):
        self.files = {}
        self.path = path
        if os.path.isdir(path):
            for root, _dirs, names in os.walk(path):
                for n in names:
                    if os.path.basename(root) == wanted_dir or root == path:
                        self.files.setdefault(n, os.path.join(root, n))
            self.read = lambda n: open(self.files[n], 'rb').read()
            return
        blob = open(path, 'rb').read()
        self.sha256 = hashlib.sha256(blob).hexdigest()
        data = {}
        if blob[:8] == b'!<arch>\n':
            tars = [d for n, d in _ar_members(blob) if n.startswith('data.tar')]
            if not tars:
                raise ValueError('%s: no data.tar member' % path)
            tf = tarfile.open(fileobj=io.BytesIO(tars[0]), mode='r:*')
        else:
            tf = tarfile.open(fileobj=io.BytesIO(blob), mode='r:*')
        for m in tf:
            if m.isfile() and os.path.basename(os.path.dirname(m.name)) == wanted_dir:
                data[os.path.basename(m.name)] = tf.extractfile(m).read()
        self.files = data
        self.read = lambda n: data[n]

    def has(self, name):
        return name in self.files


def read_nls(src, cp):
    # Wine names the files with at least three digits (c_037.nls).
    return src.read('c_%03d.nls' % cp)


class NlsTable:
    """A Windows code page file (c_NNN.nls) as Wine ships them: the header, the
    byte-to-unit table, the lead-byte tables and the unit-to-code table."""

    def __init__(self, blob):
        words = struct.unpack('<%dH' % (len(blob) // 2), blob[:len(blob) // 2 * 2])
        header = words[0]
        self.cp, self.max_char, self.def_char, self.uni_def_char = words[1:5]
        p = header
        wide_at = p + words[p] + 1
        p += 1
        self.mb = words[p:p + 256]
        p += 256
        p += 257 if words[p] else 1           # optional glyph table
        self.lead = {}
        if words[p]:
            offsets = p + 1
            for b in range(256):
                if words[offsets + b]:
                    start = offsets + words[offsets + b]
                    self.lead[b] = words[start:start + 256]
        if self.max_char == 2:
            self.wc = words[wide_at:wide_at + 65536]
        else:
            self.wc = blob[wide_at * 2:wide_at * 2 + 65536]

    def defined(self, code, unit):
        # Undefined codes decode to the default character; the default character's own
        # code is the only one that legitimately does.
        return unit != self.uni_def_char or self.wc[self.uni_def_char] == code

    def forward(self):
        """Every defined code -> unit, single bytes and lead/trail pairs."""
        out = {}
        for b in range(256):
            if b in self.lead:
                for t in range(256):
                    u = self.lead[b][t]
                    if self.defined(b << 8 | t, u):
                        out[b << 8 | t] = u
            elif self.defined(b, self.mb[b]):
                out[b] = self.mb[b]
        return out

    def preferred(self, unit):
        """The code Windows writes for the unit (may be a best fit)."""
        return self.wc[unit]


def js_string_literal(text, start):
    """Decodes the JavaScript string literal whose opening quote is at text[start]."""
    quote = text[start]
    out = []
    i = start + 1
    simple = {'b': '\b', 'f': '\f', 'n': '\n', 'r': '\r', 't': '\t', 'v': '\v', '0': '\0'}
    while True:
        ch = text[i]
        if ch == quote:
            return ''.join(out)
        if ch != '\\':
            out.append(ch)
            i += 1
            continue
        esc = text[i + 1]
        if esc == 'u':
            out.append(chr(int(text[i + 2:i + 6], 16)))
            i += 6
        elif esc == 'x':
            out.append(chr(int(text[i + 2:i + 4], 16)))
            i += 4
        else:
            out.append(simple.get(esc, esc))
            i += 2


def codepage_js_single(src, cp):
    """byte -> unit of a single-byte page from the codepage package (its 256-character
    string; U+FFFD marks an undefined byte)."""
    text = src.read('%d.js' % cp).decode('utf-8')
    if 'var d = "' in text:
        at = text.index('var d = ') + len('var d = ')
    else:
        # Pages with two-byte sequences keep their single bytes in D[0].
        at = text.index('D[0] = ') + len('D[0] = ')
    chars = js_string_literal(text, at)
    if len(chars) != 256:
        raise ValueError('%d.js: %d characters, not 256' % (cp, len(chars)))
    m = {b: ord(c) for b, c in enumerate(chars) if c != '\ufffd'}
    # These dumps repeat the value of byte 0xFF on bytes 0x00 and 0x01; every one of
    # these pages maps 0x00 and 0x01 to U+0000 and U+0001.
    for b in (0, 1):
        if m.get(b) != b:
            m[b] = b
    return m


# --------------------------------------------------------------------------------------
# Building the lists
# --------------------------------------------------------------------------------------

def published_defines(cp, b):
    name = PUBLISHED.get(cp)
    if name is None:
        return True
    try:
        bytes([b]).decode(name)
        return True
    except UnicodeDecodeError:
        return False


def order_by_unit(entries, prefer):
    """Sorted by unit; of several codes for one unit the preferred one comes first, since
    the first inserted entry is the one a reverse lookup finds."""
    return sorted(entries, key=lambda e: (e[1], 0 if prefer(e[1]) == e[0] else 1, e[0]))


def build_single(cp, wine, cpjs):
    if cp in FROM_CODEPAGE_JS:
        m = codepage_js_single(cpjs, cp)
        prefer = lambda u: min(c for c, v in m.items() if v == u)
    else:
        nls = NlsTable(read_nls(wine, cp))
        if nls.max_char != 1:
            raise ValueError('%d is not a single-byte page' % cp)
        m = nls.forward()
        prefer = nls.preferred
    # Holes filled with the C1 control of the same number are not characters of the page.
    for b in range(0x80, 0xA0):
        if m.get(b) == b and not published_defines(cp, b):
            del m[b]
    if cp in EURO_AT_80:
        m[0x80] = 0x20AC
    m = {b: u for b, u in m.items() if b != 0 and u != 0 and b < 0x100}
    transparent = all(m.get(b) == b for b in range(1, 0x80))
    if transparent:
        m = {b: u for b, u in m.items() if b >= 0x80}
    entries = order_by_unit(m.items(), prefer)
    table = Table(cp, transparent, entries, [])
    table.expect_forward = dict(m)
    for u in set(m.values()):
        codes = [b for b, v in m.items() if v == u]
        table.expect_reverse[u] = prefer(u) if prefer(u) in codes else min(codes)
    return table


def build_us_ascii():
    # ASCII passes through; the one entry turns a no-break space into a space on the way
    # to US-ASCII (nothing maps back to it: 0x20 is below 0x80).
    table = Table(20127, True, [(0x20, 0x00A0)], [], marker='x')
    table.expect_forward, table.expect_reverse = {0x20: 0x00A0}, {0x00A0: 0x20}
    return table


def round_trip(nls):
    """The codes whose unit Windows converts back to the same code: the exact mapping,
    without the one-way decodings of duplicate codes and without best fits."""
    return {c: u for c, u in nls.forward().items() if nls.wc[u] == c}


def build_mb_base(cp, wine):
    nls = NlsTable(read_nls(wine, cp))
    m = round_trip(nls)
    for b in range(0x80):
        if m.get(b) != b:
            raise ValueError('%d: byte %#x is not ASCII' % (cp, b))
    singles = [(c, u) for c, u in m.items() if 0x80 <= c < 0x100]
    doubles = [(c, u) for c, u in m.items() if c >= 0x100]
    mapped_units = set(m.values())
    for code, unit in MB_ADDITIONS.get(cp, []):
        if unit in mapped_units or (code in m and m[code] != code):
            raise ValueError('%d: addition %#x/%#x clashes' % (cp, code, unit))
        singles.append((code, unit))
    key = lambda e: (e[1], e[0])
    table = Table(cp, True, sorted(singles, key=key), sorted(doubles, key=key))
    table.expect_forward = {c: u for c, u in m.items() if c >= 0x80}
    table.expect_reverse = {u: nls.wc[u] for c, u in m.items() if c >= 0x80}
    for code, unit in MB_ADDITIONS.get(cp, []):
        table.expect_forward[code] = unit
        table.expect_reverse[unit] = code
    return table, nls


def build_euc_kr(base):
    # EUC-KR is the part of code page 949 whose lead and trail bytes are both 0xA1-0xFE
    # (KS X 1001 with its two user-defined rows); the single bytes stay as they are.
    doubles = [(c, u) for c, u in base.doubles if c >> 8 >= 0xA1 and c & 0xFF >= 0xA1]
    table = Table(51949, True, list(base.singles), doubles)
    euc = lambda c: c < 0x100 or (c >> 8 >= 0xA1 and c & 0xFF >= 0xA1)
    table.expect_forward = {c: u for c, u in base.expect_forward.items() if euc(c)}
    table.expect_reverse = {u: c for u, c in base.expect_reverse.items() if euc(c)}
    return table


def sjis_to_euc(code):
    """Shift-JIS pair -> EUC-JP pair by the JIS row/cell arithmetic. Rows past 94 (the
    user-defined lead bytes 0xF0-0xF9) have no EUC-JP form; the arithmetic, done on bytes,
    puts them on lead bytes 0xFF and 0x80-0x92 all the same."""
    lead, trail = code >> 8, code & 0xFF
    row = ((lead - (0xB1 if lead > 0x9F else 0x71)) * 2 + 1) & 0xFF
    if trail > 0x9E:
        trail -= 0x7E
        row = (row + 1) & 0xFF
    else:
        if trail > 0x7E:
            trail -= 1
        trail -= 0x1F
    return (row << 8 | trail) | 0x8080


def build_euc_jp(base932, nls932):
    """EUC-JP as Windows derives it from code page 932: half-width katakana behind 0x8E,
    pairs by arithmetic, the IBM extension rows (which have no EUC-JP rows) through their
    NEC-selected twins."""
    fwd = nls932.forward()
    by_unit = {}
    for c, u in fwd.items():
        by_unit.setdefault(u, []).append(c)
    singles, doubles = [], []
    for c, u in base932.singles:
        if 0xA1 <= c <= 0xDF:
            doubles.append((0x8E00 | c, u))
        else:
            singles.append((c, u))
    for c, u in base932.doubles:
        if 0xFA40 <= c <= 0xFC4B:
            twins = [t for t in by_unit[u] if t != c and not 0xF040 <= t <= 0xFCFC]
            if len(twins) != 1:
                raise ValueError('932: no single twin for %#x' % c)
            c = twins[0]
        doubles.append((sjis_to_euc(c), u))
    kana_codes = {0x8E00 | c for c, _u in base932.singles if 0xA1 <= c <= 0xDF}
    real = [(c, u) for c, u in doubles if not (c in kana_codes and 0xE000 <= u <= 0xF8FF)]
    shadowed = [(c, u) for c, u in doubles if c in kana_codes and 0xE000 <= u <= 0xF8FF]
    key = lambda e: (e[1], e[0])
    # The user-defined row that the arithmetic puts on 0x8E meets the katakana; those
    # entries go last so the katakana, inserted first, are what 0x8E pairs decode to.
    ordered = sorted(real, key=key) + sorted(shadowed, key=key)
    table = Table(51932, True, sorted(singles, key=key), ordered)
    for u, c in base932.expect_reverse.items():
        if c < 0x100:
            c = 0x8E00 | c if 0xA1 <= c <= 0xDF else c
        else:
            if 0xFA40 <= c <= 0xFC4B:
                c = [t for t in by_unit[u] if t != c and not 0xF040 <= t <= 0xFCFC][0]
            c = sjis_to_euc(c)
        table.expect_reverse[u] = c
        if not (c in kana_codes and 0xE000 <= u <= 0xF8FF):
            table.expect_forward[c] = u
    return table


def reverse_of(table):
    """unit -> code as a reverse table built from the list finds it (first entry wins)."""
    rev = {}
    for c, u in table.singles + table.doubles:
        rev.setdefault(u, c)
    return rev


def build_mac_japanese_patch(base932, wine):
    """Mac Japanese is code page 932 with a few dozen symbols moved and five single bytes
    redefined. Its list is the difference between the exact 10001 mapping and the reverse
    table of the 932 list."""
    nls = NlsTable(read_nls(wine, 10001))
    target = {u: c for c, u in round_trip(nls).items() if c >= 0x80}
    have = reverse_of(base932)
    remove = sorted(u for u in have if u not in target)
    set1 = sorted((u, c) for u, c in target.items() if c < 0x100 and have.get(u) != c)
    set2 = sorted((u, c) for u, c in target.items() if c >= 0x100 and have.get(u) != c)
    return remove, set1, set2, target


# --------------------------------------------------------------------------------------
# Packing
# --------------------------------------------------------------------------------------

def payload_of(table):
    out = bytearray(b'a' if table.ascii else b'x')
    out += b'u'
    code = unit = 0
    for c, u in table.singles:
        dc, du = (c - code) & 0xFF, (u - unit) & 0xFFFF
        if dc == 0:
            raise ValueError('%d: single-byte code %#x repeats' % (table.cp, c))
        out += struct.pack('<BH', dc, du)
        code, unit = c, u
    out += b'\0'
    code = unit = 0
    for c, u in table.doubles:
        dc, du = (c - code) & 0xFFFF, (u - unit) & 0xFFFF
        if dc == 0:
            raise ValueError('%d: double-byte code %#x repeats' % (table.cp, c))
        out += struct.pack('<HH', dc, du)
        code, unit = c, u
    out += b'\0\0'
    return bytes(out)


def patch_payload(remove, set1, set2):
    # Keys are reverse-table keys (the unit's two bytes, low byte first); values are the
    # code bytes as written to the output (lead byte first).
    out = bytearray(b'ad')
    for u in remove:
        out += struct.pack('<H', u)
    out += b'\0\0'
    for u, c in set1:
        out += struct.pack('<BH', c, u)
    out += b'\0'
    for u, c in set2:
        out += struct.pack('>H', c) + struct.pack('<H', u)
    out += b'\0\0'
    return bytes(out)


def stored_text(payload, marker):
    if marker == 'x':
        return 'x' + base64.b64encode(payload).decode('ascii')
    container = CONTAINER_MAGIC + struct.pack('<I', len(payload)) + bz2.compress(payload, 9)
    return marker + base64.b64encode(container).decode('ascii')


# --------------------------------------------------------------------------------------
# Self-check: an independent reading of every text
# --------------------------------------------------------------------------------------

def read_text(text):
    """Decodes a stored text back to its payload, as a reader of the format does."""
    body = base64.b64decode(text[1:], validate=True)
    if text[0] == 'x':
        return body
    if body[:4] != CONTAINER_MAGIC:
        raise ValueError('bad container magic')
    (length,) = struct.unpack_from('<I', body, 4)
    payload = bz2.BZ2Decompressor().decompress(body[8:])
    if len(payload) != length:
        raise ValueError('container length %d, payload %d' % (length, len(payload)))
    return payload


def parse_full(payload):
    if payload[1:2] == b'd':
        raise ValueError('a patch list where a full list belongs')
    pos, code, unit = 2, 0, 0
    singles, doubles = [], []
    while payload[pos] != 0:
        dc, du = struct.unpack_from('<BH', payload, pos)
        code, unit = (code + dc) & 0xFF, (unit + du) & 0xFFFF
        singles.append((code, unit))
        pos += 3
    pos += 1
    code = unit = 0
    while True:
        (dc,) = struct.unpack_from('<H', payload, pos)
        if dc == 0:
            pos += 2
            break
        (du,) = struct.unpack_from('<H', payload, pos + 2)
        code, unit = (code + dc) & 0xFFFF, (unit + du) & 0xFFFF
        doubles.append((code, unit))
        pos += 4
    if pos != len(payload):
        raise ValueError('%d bytes after the end of the list' % (len(payload) - pos))
    return payload[0:1] == b'a', singles, doubles


def apply_patch(rev, payload):
    if payload[1:2] != b'd':
        raise ValueError('not a patch list')
    rev = dict(rev)
    pos = 2
    while True:
        (u,) = struct.unpack_from('<H', payload, pos)
        pos += 2
        if u == 0:
            break
        rev.pop(u, None)
    while payload[pos] != 0:
        c = payload[pos]
        (u,) = struct.unpack_from('<H', payload, pos + 1)
        rev[u] = c
        pos += 3
    pos += 1
    while True:
        (c,) = struct.unpack_from('>H', payload, pos)
        pos += 2
        if c == 0:
            break
        (u,) = struct.unpack_from('<H', payload, pos)
        rev[u] = c
        pos += 2
    if pos != len(payload):
        raise ValueError('bytes after the end of the patch')
    return rev


def self_check(table, text):
    expect_forward, expect_reverse = table.expect_forward, table.expect_reverse
    ascii_flag, singles, doubles = parse_full(read_text(text))
    if ascii_flag != table.ascii or singles != table.singles or doubles != table.doubles:
        raise AssertionError('%d: text does not decode to its list' % table.cp)
    forward, reverse = {}, {}
    for c, u in singles + doubles:
        forward.setdefault(c, u)
        reverse.setdefault(u, c)
    if forward != expect_forward:
        bad = sorted(set(forward.items()) ^ set(expect_forward.items()))[:5]
        raise AssertionError('%d: forward lookups differ: %s' % (table.cp, bad))
    if reverse != expect_reverse:
        bad = sorted(set(reverse.items()) ^ set(expect_reverse.items()))[:5]
        raise AssertionError('%d: reverse lookups differ: %s' % (table.cp, bad))


# --------------------------------------------------------------------------------------
# C++ output
# --------------------------------------------------------------------------------------

HEADER = ('// Generated by tools/gen_tables.py from the Windows code page mappings; do not '
          'edit.\n// The texts are in the stored-table format of doc/table_format.md.\n')


def cpp_pieces(name, text):
    pieces = [text[i:i + PIECE_LIMIT] for i in range(0, len(text), PIECE_LIMIT)]
    lines = ['extern const char* const %s[];' % name, 'const char* const %s[] = {' % name]
    for p in pieces:
        segs = [p[i:i + LINE_WIDTH] for i in range(0, len(p), LINE_WIDTH)]
        for j, s in enumerate(segs):
            lines.append('    "%s"%s' % (s, ',' if j == len(segs) - 1 else ''))
    lines.append('};')
    return '\n'.join(lines) + '\n', len(pieces)


NS_OPEN = 'namespace stored_tables {\n\n'
NS_CLOSE = '\n}  // namespace stored_tables\n'


def cpp_file(blocks):
    return HEADER + '\n' + NS_OPEN + '\n'.join(blocks) + NS_CLOSE


# --------------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--wine-nls', required=True,
                    help='the libwine .deb, or a directory with its c_NNN.nls files')
    ap.add_argument('--codepage-js', required=True,
                    help='the codepage npm .tgz, or a directory with its bits/NNN.js files')
    ap.add_argument('--out', default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                  '..', 'charset', 'tables'))
    ap.add_argument('--check', action='store_true',
                    help='compare with the files in --out instead of writing them')
    args = ap.parse_args()

    wine = FileSource(args.wine_nls, 'nls')
    cpjs = FileSource(args.codepage_js, 'bits')

    texts = {}          # code page -> (variable name, text)
    report = []

    # Single-byte pages.
    for cp in SINGLE_BYTE:
        table = build_us_ascii() if cp == 20127 else build_single(cp, wine, cpjs)
        if cp == 28591 and len(table.singles) != 128:
            raise AssertionError('28591: %d entries, not 128' % len(table.singles))
        text = stored_text(payload_of(table), table.marker)
        self_check(table, text)
        texts[cp] = ('kText%d' % cp, text)
        report.append((cp, table.ascii, len(table.singles), 0, len(text)))

    # Multi-byte pages.
    base932, nls932 = build_mb_base(932, wine)
    base936, _ = build_mb_base(936, wine)
    base949, _ = build_mb_base(949, wine)
    base950, _ = build_mb_base(950, wine)
    base1361, _ = build_mb_base(1361, wine)
    multi = [base932, base936, base949, base950, base1361, build_euc_jp(base932, nls932),
             build_euc_kr(base949)]
    for table in multi:
        got = (len(table.singles), len(table.doubles))
        if got != EXPECTED_MB[table.cp]:
            raise AssertionError('%d: %d + %d entries, expected %d + %d'
                                 % ((table.cp,) + got + EXPECTED_MB[table.cp]))
        text = stored_text(payload_of(table), table.marker)
        if table.cp == 51932:
            # Katakana must win the codes they share with the user-defined row.
            for b in range(0xA1, 0xE0):
                if table.expect_forward[0x8E00 | b] != 0xFF61 + b - 0xA1:
                    raise AssertionError('51932: 8E %02X does not decode to katakana' % b)
        self_check(table, text)
        texts[table.cp] = ('kText%d' % table.cp, text)
        report.append((table.cp, table.ascii, len(table.singles), len(table.doubles),
                       len(text)))

    # Mac Japanese: the 932 list in reverse plus a patch.
    remove, set1, set2, target = build_mac_japanese_patch(base932, wine)
    patch_text = stored_text(patch_payload(remove, set1, set2), 'c')
    patched = apply_patch(reverse_of(base932), read_text(patch_text))
    if patched != target:
        raise AssertionError('10001: patched reverse table differs from the mapping')
    if len(set(patched.values())) != len(patched):
        raise AssertionError('10001: two units share a code, the inversion is ambiguous')
    patch_line = '%6d  patch on 932: %d removed, %d one-byte, %d two-byte  %7d chars' % (
        10001, len(remove), len(set1), len(set2), len(patch_text))

    # Files.
    groups = [('TablesSingleByte.cpp', SINGLE_BYTE), ('Table932.cpp', [932]),
              ('Table936.cpp', [936]), ('Table949.cpp', [949]), ('Table950.cpp', [950]),
              ('Table1361.cpp', [1361]), ('Table51932.cpp', [51932]),
              ('Table51949.cpp', [51949])]
    files = {}
    counts = {}
    for fname, cps in groups:
        blocks = []
        for cp in cps:
            name, text = texts[cp]
            block, n = cpp_pieces(name, text)
            counts[cp] = (name, n)
            blocks.append('// Code page %d.\n%s' % (cp, block))
        files[fname] = cpp_file(blocks)
    block, n = cpp_pieces('kPatch10001', patch_text)
    files['Table10001.cpp'] = cpp_file(['// Code page 10001, applied to the 932 list.\n'
                                        + block])
    counts['patch'] = ('kPatch10001', n)

    # The index: full lists by code page (51936 shares 936, 10001 starts from 932).
    index = sorted([(cp,) + counts[cp] for cp in counts if cp != 'patch']
                   + [(51936,) + counts[936], (10001,) + counts[932]])
    decls = ''.join('extern const char* const %s[];\n' % nm
                    for nm in sorted({e[1] for e in index} | {'kPatch10001'}))
    rows = ''.join('    {%d, %s, %d},\n' % e for e in index)
    files['TablesIndex.cpp'] = (
        HEADER + '\n#include "charset/tables/StoredTables.h"\n\n' + NS_OPEN + decls + '\n'
        '// Ascending by code page.\nconst StoredTable kStoredTables[] = {\n' + rows + '};\n'
        'const uint32_t kStoredTableCount = %d;\n\n' % len(index)
        + 'const StoredTable kStoredPatches[] = {\n    {10001, kPatch10001, %d},\n};\n'
        % counts['patch'][1] + 'const uint32_t kStoredPatchCount = 1;\n' + NS_CLOSE)

    for fname in files:
        for line in files[fname].splitlines():
            if len(line) > 200:
                raise AssertionError('%s: overlong line' % fname)

    out = os.path.normpath(args.out)
    # A generated file the library target does not list would silently drop its tables.
    cmake = os.path.join(out, 'CMakeLists.txt')
    if os.path.exists(cmake):
        listed = re.findall(r'[\w.]+\.cpp', open(cmake, encoding='utf-8').read())
        missing = [f for f in files if f not in listed]
        if missing:
            raise AssertionError('CMakeLists.txt does not list ' + ', '.join(missing))
    differ = []
    for fname, content in sorted(files.items()):
        path = os.path.join(out, fname)
        old = open(path, encoding='ascii').read() if os.path.exists(path) else None
        if old != content:
            differ.append(fname)
            if not args.check:
                with open(path, 'w', encoding='ascii', newline='\n') as f:
                    f.write(content)

    for cp, asc, ns, nd, size in sorted(report):
        print('%6d  %s  %5d single  %6d double  %7d chars' % (cp, 'a' if asc else 'x', ns,
                                                            nd, size))
    print(patch_line)
    for label, src in (('wine-nls', wine), ('codepage-js', cpjs)):
        if hasattr(src, 'sha256'):
            print('%s sha256 %s' % (label, src.sha256))
    if args.check:
        if differ:
            print('differ: ' + ', '.join(differ))
            return 1
        print('all files match')
    else:
        print('written: %s' % (', '.join(differ) if differ else 'nothing changed'))
    return 0


if __name__ == '__main__':
    sys.exit(main())
