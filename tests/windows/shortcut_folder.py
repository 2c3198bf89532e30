#!/usr/bin/env python3
"""Prints the working folder that a Windows shortcut (.lnk) starts its program in, or nothing
when it names none; exits 1 when the file is no shortcut.
    shortcut_folder.py FILE.lnk"""
import struct
import sys

HEADER_SIZE = 0x4C
HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR = 1, 2, 4, 8, 16
IS_UNICODE = 0x80


def working_folder(data: bytes):
    if len(data) < HEADER_SIZE or struct.unpack_from("<I", data, 0)[0] != HEADER_SIZE:
        raise ValueError("not a shortcut")
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = HEADER_SIZE
    if flags & HAS_ID_LIST:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if flags & HAS_LINK_INFO:
        at += struct.unpack_from("<I", data, at)[0]
    width = 2 if flags & IS_UNICODE else 1
    # The strings that may be there, in their order; each is a count of characters, then them.
    for bit in (HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR):
        if not flags & bit:
            continue
        count = struct.unpack_from("<H", data, at)[0]
        text = data[at + 2:at + 2 + count * width]
        at += 2 + count * width
        if bit == HAS_WORKING_DIR:
            # Some writers count the closing zero too.
            return text.decode("utf-16-le" if width == 2 else "cp1252").rstrip("\0")
    return ""


if __name__ == "__main__":
    try:
        with open(sys.argv[1], "rb") as shortcut:
            print(working_folder(shortcut.read()))
    except (OSError, ValueError, struct.error) as error:
        print(f"{sys.argv[1]}: {error}", file=sys.stderr)
        sys.exit(1)
