#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Frame inputs use the fuzz targets' frame format (see fuzz_support.h): a kind byte (0 data frame
from the board, 1 Discovery Reply, 2 whole raw frame, 3 IPv4 frame), a 16-bit little-endian
length, then the bytes. Run it again after changing a seed; it rewrites only its own files.
"""
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
HOST = bytes([0x02, 0x53, 0x4B, 0x41, 0x56, 0x00])
BOARD = bytes([0x02, 0x00, 0x00, 0x00, 0x00, 0x01])
MARKER = b"QM7302-DIAG-END\r\n\x00"


def frame(kind, payload):
    return bytes([kind]) + struct.pack("<H", len(payload)) + payload


def data(payload):
    return frame(0, payload)


def reply(payload=bytes(46)):
    return frame(1, payload)


def raw(whole):
    return frame(2, whole)


def foreign(payload=bytes(46)):
    return frame(3, payload)


def block_input(n, frames):
    return struct.pack("<I", n)[:3] + b"".join(frames)


def write(target, name, content):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    if isinstance(content, str):
        content = content.encode("latin-1")
    (folder / name).write_bytes(content)


def examples(name):
    return (ROOT / "examples" / name).read_bytes()


def ini_seeds():
    write("ini_fuzzer", "config.ini", examples("config.ini"))
    write("ini_fuzzer", "uboot_env.ini", examples("uboot_env.ini"))
    write("ini_fuzzer", "reordered_capitals.ini",
          "[DIAG]\r\nFILENAME = \"diag.txt\"\r\nmem_type=MEM\r\n\r\n[kernel]\r\n"
          "Filename='k.bin'\r\nMem_Dst_addr=0x80000\r\nMem_Src_addr=524288\r\n"
          "Mem_Src_addr=1\r\n[extra]\r\nFilename=x\r\n[kernel]\r\nCommand=exe\r\n")
    write("ini_fuzzer", "long_values.ini",
          "\xef\xbb\xbf; comment\n[uboot_cfg]\nFilename=" + "f" * 140 + "\nMem_type="
          + "spi" * 8 + "\nMem_Src_addr=-1\nMem_Dst_addr=0xFFFFFFFFF\n  Command  =  write  \n")
    config = examples("config.ini").decode("ascii").replace("\r\n", "\n").replace("\n", "\r\n")
    write("ini_fuzzer", "config_utf16le.ini", b"\xff\xfe" + config.encode("utf-16-le"))
    write("ini_fuzzer", "config_utf16be.ini", b"\xfe\xff" + config.encode("utf-16-be"))
    write("ini_fuzzer", "lone_cr.ini", config.replace("\r\n", "\r"))
    write("ini_fuzzer", "blanks_in_brackets.ini",
          "[ kernel ]\r\nFilename = \x1a'zImage'\x1a\r\n[\tuboot\t]\r\nMem_type=\"s\x00pi\"\r\n"
          "[uboot_cfg ] note\r\n;Command=write\r\nMem_Src_addr=0b101\r\nMem_Dst_addr=0o17\r\n"
          "[\xc4rger]\r\n\xdcber=\xe9\r\n")


def environment_seeds():
    write("environment_fuzzer", "example", b"001122334455" + examples("uboot_env.ini"))
    write("environment_fuzzer", "no_file", b"001122334455")
    write("environment_fuzzer", "carry_two_macs",
          b"0011FFFFFFFF[variable]\nvar_no=3\nvariable00=MAC0\nvariable02=mac1\n"
          b"[argument]\nMAC0=00-00-00-00-00-00\nmac1=000000000000000000\n")
    write("environment_fuzzer", "short_template",
          b"00a0b1c2d3e4[variable]\nvar_no=2\nvariable00=GMAC\nvariable01=ethaddr\n"
          b"[argument]\nGMAC=00:00\nethaddr=11:22:33:44:55:66\n")
    write("environment_fuzzer", "too_many",
          b"FFFFFFFFFFFF[variable]\nvar_no=70\nvariable00=averyveryverylongname\n"
          b"variable63=x\n[argument]\naveryveryverylongname=1\nx=" + b"v" * 300 + b"\n")


STORE_HEADER = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\SKAV]\r\n"


def settings_seeds():
    write("settings_store_fuzzer", "store.reg",
          STORE_HEADER + "\"BarCode\"=dword:00000001\r\n\"NetIF\"=dword:00000000\r\n"
          "\"MACHWID\"=hex(2):30,30,31,31,32,32,33,33,34,34,35,35\r\n")
    write("settings_store_fuzzer", "utf16_continued.reg",
          STORE_HEADER + "\"MACHWID\"=hex(2):30,00,30,00,31,00,31,00,32,00,32,00,33,00,\\\r\n"
          "  33,00,34,00,34,00,35,00,35,00,00,00\r\n\"BarCode\"=hex:01,00,00,00\r\n"
          "@=\"default\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
          "\"Name\"=\"a \\\"q\\\" b\"\r\n")
    write("settings_store_fuzzer", "regedit4.reg",
          "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\SKAV]\n\"MACHWID\"=\"001122334455\"\n"
          "\"NetIF\"=-\n")
    write("settings_store_fuzzer", "broken.reg", STORE_HEADER + "\"BarCode\"=dword:xyz\r\n")
    write("settings_store_fuzzer", "utf16le.reg", b"\xff\xfe" + (
        STORE_HEADER + "\"BarCode\"=dword:00000001\r\n\"MACHWID\"=hex(2):30,00,30,00,31,00,31,00,"
        "32,00,32,00,33,00,\\\r\n  33,00,34,00,34,00,35,00,35,00,00,00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\M\u00fcller]\r\n\"Preis\"=\"5 \u20ac\"\r\n\r\n"
        ).encode("utf-16-le"))
    write("settings_store_fuzzer", "duplicates.reg",
          STORE_HEADER + "\"NetIF\"=dword:00000001\r\n\"NetIF\"=dword:00000002\r\n\r\n"
          "[-HKEY_CURRENT_USER\\Software\\SKAV]\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\skav]\r\n"
          "\"BarCode\"=dword:00000000\r\n\"netif\"=-\r\n")
    write("settings_store_fuzzer", "empty.reg", b"")
    write("settings_store_fuzzer", "utf8_mark.reg",
          "\xef\xbb\xbf" + STORE_HEADER + "\"NetIF\"=dword:00000003\r\n")


def block_receive_seeds():
    write("block_receive_fuzzer", "header_80", block_input(80, [data(bytes(range(80)))]))
    write("block_receive_fuzzer", "two_frames_foreign_between",
          block_input(1409, [data(b"\x11" * 1408), foreign(), raw(b""), data(b"\x22")]))
    write("block_receive_fuzzer", "seventeen_frames",
          block_input(16 * 1408 + 1, [data(bytes([i]) * 1408) for i in range(16)] + [data(b"!")]))
    write("block_receive_fuzzer", "padded_last",
          block_input(10, [data(b"0123456789" + bytes(36))]))
    write("block_receive_fuzzer", "short_and_empty",
          block_input(3000, [data(b""), data(b"short"), raw(BOARD + HOST + b"\x80"),
                             reply(), data(b"y" * 1500)]))
    write("block_receive_fuzzer", "empty_block", block_input(0, [data(b"unused")]))


def discovery_seeds():
    write("discovery_fuzzer", "reply", reply())
    write("discovery_fuzzer", "foreign_then_reply", foreign() + raw(b"\x01\x02") + reply(b""))
    write("discovery_fuzzer", "late_reply", foreign() + data(bytes(46)) + foreign() + reply())
    write("discovery_fuzzer", "raw_reply",
          raw(HOST + bytes([0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE]) + b"\x80\x22"))


def console_relay_seeds():
    def text(s):
        block = s.encode("latin-1")
        return data(block + b"\x00" + bytes(max(0, 46 - len(block) - 1)))

    write("console_relay_fuzzer", "lines",
          text("DIAG start\r\n") + text("RAM test ... ok\r\n") + data(MARKER))
    write("console_relay_fuzzer", "full_block_then_short",
          data(b"x" * 256) + text("short\r\n") + data(b"abc") + data(MARKER + bytes(28)))
    write("console_relay_fuzzer", "foreign_and_oversized",
          foreign() + text("one\r\n") + reply() + data(b"z" * 300) + raw(b"") + text("two\r\n"))
    write("console_relay_fuzzer", "marker_then_more",
          text("before\r\n") + data(MARKER) + text("after\r\n"))


if __name__ == "__main__":
    ini_seeds()
    environment_seeds()
    settings_seeds()
    block_receive_seeds()
    discovery_seeds()
    console_relay_seeds()
