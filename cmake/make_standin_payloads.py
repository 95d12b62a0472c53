"""Writes six deterministic stand-ins for the OCR data files.

The real data files are supplied to release builds and never committed. The
stand-ins have the real files' names and sizes and the same kind of bytes at
their edges (text lines, a byte-order mark, runs of zeros, lone LF and CR
bytes), so the installer and its tests exercise what matters: exact lengths
and untranslated binary content.

Usage: make_standin_payloads.py OUTPUT_DIR
"""

import hashlib
import struct
import sys
from pathlib import Path

DIC_TRAILER = b"GB 202 Mon Aug 28 10:39:54 JST 2000\n"


def noise(name, size):
    """Bytes that look like binary data and are the same on every run."""
    return hashlib.shake_256(b"orvex stand-in " + name.encode()).digest(size)


def fill(name, size, head=b"", tail=b""):
    body = size - len(head) - len(tail)
    assert body >= 0, name
    return head + noise(name, body) + tail


def standins():
    # As in the real lexicon, the first line is 39 bytes, so the first lone LF is at offset 39.
    notice = b"Stand-in English lexicon for OCR tests."
    assert len(notice) == 39
    yield "eng.ilex", fill(
        "eng.ilex", 619914, head=notice + b"\nversion 1.12\n*1*\n\xef\xbb\xbf")
    yield "latin.ocr", fill(
        "latin.ocr", 2361673, head=b"irisocr___11irisfbt_____", tail=bytes(4096))
    words = struct.pack(">8I", 0x00010002, 2274135, 1, 0x20, 0x1000, 0xFFFF0000, 7, 0)
    yield "schclas.dic", fill("schclas.dic", 2274135, head=words, tail=DIC_TRAILER)
    yield "schlang.dic", fill("schlang.dic", 155910, tail=DIC_TRAILER)
    yield "schparam.dic", b"schlang.dic\rschclas.dic\rschpp.dic\r"
    yield "schpp.dic", fill(
        "schpp.dic", 2415167, tail=b"GB Ver1.02 Mon Aug 28 11:10:41 JST 2000\n")


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, data in standins():
        path = out / name
        # Rewriting identical bytes would only touch the timestamp and force a relink.
        if not path.exists() or path.read_bytes() != data:
            path.write_bytes(data)


if __name__ == "__main__":
    main()
