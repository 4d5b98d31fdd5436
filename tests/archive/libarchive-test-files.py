#!/usr/bin/env python3
"""Decodes test archives that libarchive's source package ships uuencoded.

Usage: libarchive-test-files.py OUT PATTERN
Every file matching PATTERN ("*rar*") in the test folder of the libarchive
source unpacked under .deps/src is written to OUT without its ".uu".
"""
import binascii, glob, os, sys

out, pattern = sys.argv[1:]
top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
tests = sorted(glob.glob(os.path.join(top, '.deps', 'src', 'libarchive-[0-9]*', 'libarchive', 'test')))
if not tests:
    sys.exit('libarchive-test-files.py: no libarchive source under .deps/src: run scripts/setup.sh')
for path in glob.glob(os.path.join(tests[0], pattern + '.uu')):
    data = bytearray()
    with open(path) as f:
        for line in f:
            if line.startswith('begin'):
                continue
            if line.startswith('end'):
                break
            if line.strip():
                data += binascii.a2b_uu(line.rstrip('\n'))
    with open(os.path.join(out, os.path.basename(path)[:-3]), 'wb') as f:
        f.write(data)
