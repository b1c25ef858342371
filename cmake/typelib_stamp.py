#!/usr/bin/env python3
"""Fixes the build time that widl writes into a type library, so that the
same IDL always gives the same bytes (widl 7 ignores SOURCE_DATE_EPOCH).

widl leaves two custom data values: the text "Created by WIDL version V at
<ctime>\\n" and the time as a VT_UI4. Both are set to the epoch, 0, as the
PE timestamps are; nothing else in the file changes, not even a length.

    typelib_stamp.py FILE.tlb"""
import re
import struct
import sys

VT_UI4 = b"\x13\x00"
EPOCH_TEXT = b"Thu Jan  1 00:00:00 1970"  # ctime(0) in UTC


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    path = sys.argv[1]
    data = bytearray(open(path, "rb").read())
    start = data.find(b"Created by WIDL version ")
    if start < 0:
        sys.exit("typelib_stamp: %s has no widl build time" % path)
    (length,) = struct.unpack_from("<I", data, start - 4)
    end = start + length
    text = bytes(data[start:end])
    if not re.fullmatch(rb"Created by WIDL version \S+ at .{24}\n", text, re.S):
        sys.exit("typelib_stamp: unexpected text %r in %s" % (text, path))
    data[end - 25:end - 1] = EPOCH_TEXT
    # Custom data is padded with 'W' up to the next value.
    value = end
    while data[value:value + 1] == b"W":
        value += 1
    if data[value:value + 2] != VT_UI4:
        sys.exit("typelib_stamp: no build time after the text in %s" % path)
    struct.pack_into("<I", data, value + 2, 0)
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
