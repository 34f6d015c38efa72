#!/usr/bin/env python3
"""Compares two codepage_dump outputs of one code page, the Windows build's (run under Wine)
and the POSIX build's, and counts what differs:
  decoding  every byte that is no lead byte, and every lead byte with a byte of its trail ranges
  encoding  every BMP character outside the surrogates (bytes and the default-character flag)
With --tables it also checks each entry of src/platform/posix/codepage_tables.inc against the
Windows dump and prints how many agree.

  build/win32/bin/codepage_dump.exe 936 > win.txt   (under Wine; strip the CRs)
  build/release/tools/codepage_dump 936 > posix.txt
  python3 scripts/codepage_compare.py 936 win.txt posix.txt [--show N] [--tables]
"""
import argparse
import os
import re

LEAD = {932: [(0x81, 0x9F), (0xE0, 0xFC)], 936: [(0x81, 0xFE)], 949: [(0x81, 0xFE)], 950: [(0x81, 0xFE)]}
TRAIL = {932: [(0x40, 0x7E), (0x80, 0xFC)], 936: [(0x40, 0x7E), (0x80, 0xFE)],
         949: [(0x41, 0x5A), (0x61, 0x7A), (0x81, 0xFE)], 950: [(0x40, 0x7E), (0xA1, 0xFE)]}


def within(ranges, b):
    return any(lo <= b <= hi for lo, hi in ranges)


def load(path):
    rows = {}
    with open(path) as f:
        for line in f:
            kind, key, *rest = line.replace('\r', '').split()
            rows[(kind, key)] = rest
    return rows


def keys(cp):
    lead, trail = LEAD.get(cp, []), TRAIL.get(cp, [])
    out = [('D', '%02X' % b) for b in range(256) if not within(lead, b)]
    out += [('D', '%02X%02X' % (f, s)) for f in range(0x81, 0xFF) if within(lead, f)
            for s in range(256) if within(trail, s)]
    out += [('E', '%04X' % u) for u in range(0x10000) if not 0xD800 <= u <= 0xDFFF]
    return out


def check_tables(cp, win):
    path = os.path.join(os.path.dirname(__file__), '..', 'src', 'platform', 'posix', 'codepage_tables.inc')
    text = open(path).read()
    total = agree = 0
    for kind in ('DecodeValid', 'DecodeLenient', 'EncodeExact', 'EncodeBestFit'):
        m = re.search(r'k%s%d\[\] = \{(.*?)\n\};' % (kind, cp), text, re.S)
        if not m:
            return None
        for key, value, count in re.findall(r'\{0x([0-9A-F]+), 0x([0-9A-F]+), (\d+)\}', m.group(1)):
            for i in range(int(count)):
                k, v = int(key, 16) + i, int(value, 16) + i
                if kind.startswith('Decode'):
                    row = win[('D', '%02X' % k if k < 0x100 else '%04X' % k)]
                    good = row[0] == '%04X' % v and row[1] == ('1' if kind == 'DecodeValid' else '0')
                else:
                    good = win[('E', '%04X' % k)][0] == ('%02X' % v if v < 0x100 else '%04X' % v)
                total += 1
                agree += good
    return total, agree


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('cp', type=int)
    ap.add_argument('windows')
    ap.add_argument('posix')
    ap.add_argument('--show', type=int, default=0)
    ap.add_argument('--tables', action='store_true')
    a = ap.parse_args()
    win, own = load(a.windows), load(a.posix)
    ks = keys(a.cp)
    dec = [k for k in ks if k[0] == 'D' and win[k] != own[k]]
    enc = [k for k in ks if k[0] == 'E' and win[k] != own[k]]
    print('%d: decoding %d of %d differ, encoding %d of %d differ'
          % (a.cp, len(dec), sum(k[0] == 'D' for k in ks), len(enc), sum(k[0] == 'E' for k in ks)))
    for k in (dec[:a.show] + enc[:a.show]):
        print('  %s %s windows %s posix %s' % (k[0], k[1], ' '.join(win[k]), ' '.join(own[k])))
    if a.tables:
        result = check_tables(a.cp, win)
        if result:
            print('  generated entries: %d, agreeing with Windows: %d' % result)


if __name__ == '__main__':
    main()
