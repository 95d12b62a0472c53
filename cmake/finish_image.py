"""Finishes a linked PE image: points its header at its load configuration, and moves its
resource section to a page boundary in the file.

Usage: finish_image.py IMAGE MAP

The load configuration. GNU ld (2.40 here) fills the TLS entry of the data directory from
__tls_used, but leaves the load-configuration entry empty whatever the program defines as
_load_config_used, so Windows would never see the structure. The linker map says where it is;
its first field says how large it is.

The resource section. Wine maps a section of an image straight from the file only when the
section starts on a page boundary there; otherwise it reads the section into memory at every
start, which for the 7.8 MB of payloads costs about 25 ms a run. Linking every section
page-aligned costs about 30 KiB of padding; moving only the resource section costs at most
4 KiB. Only file offsets change: addresses in memory, and so code, relocations and the resource
directory, stay as they are.

Run once, right after linking, before signing; the same image and map give the same bytes.
"""

import re
import struct
import sys

PAGE = 0x1000
LOAD_CONFIG_ENTRY = 10


def main():
    image_path, map_path = sys.argv[1:3]
    with open(image_path, "rb") as image_file:
        image = bytearray(image_file.read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{image_path}: not a PE image")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    headers = [optional + optional_size + 40 * i for i in range(sections)]
    if struct.unpack_from("<I", image, pe + 12)[0]:
        sys.exit(f"{image_path}: has a symbol table; link with -s")

    declare_load_config(image, image_path, map_path, optional, headers)
    align_resources(image, image_path, headers)
    with open(image_path, "wb") as image_file:
        image_file.write(image)


def declare_load_config(image, image_path, map_path, optional, headers):
    with open(map_path, encoding="utf-8", errors="replace") as map_file:
        found = re.findall(r"^\s+0x([0-9a-fA-F]+)\s+_load_config_used\s*$", map_file.read(), re.M)
    if len(found) != 1:
        sys.exit(f"{map_path}: _load_config_used is not listed exactly once")
    magic = struct.unpack_from("<H", image, optional)[0]
    if magic == 0x10B:
        base, directories = struct.unpack_from("<I", image, optional + 28)[0], optional + 96
    elif magic == 0x20B:
        base, directories = struct.unpack_from("<Q", image, optional + 24)[0], optional + 112
    else:
        sys.exit(f"{image_path}: unknown optional header")
    rva = int(found[0], 16) - base
    for header in headers:
        address, raw_size, raw = struct.unpack_from("<III", image, header + 12)
        if address <= rva < address + raw_size:
            size = struct.unpack_from("<I", image, raw + rva - address)[0]
            struct.pack_into("<II", image, directories + 8 * LOAD_CONFIG_ENTRY, rva, size)
            return
    sys.exit(f"{image_path}: _load_config_used lies in no section")


def align_resources(image, image_path, headers):
    rsrc = next((h for h in headers if image[h:h + 8].rstrip(b"\0") == b".rsrc"), None)
    if rsrc is None:
        sys.exit(f"{image_path}: no .rsrc section")
    start = struct.unpack_from("<I", image, rsrc + 20)[0]
    pad = -start % PAGE
    if pad == 0:
        return
    # Nothing but sections may lie past the resource section's start: no debug data, no
    # signature, no overlay.
    ends = [sum(struct.unpack_from("<II", image, h + 16)) for h in headers]
    if max(ends) != len(image):
        sys.exit(f"{image_path}: data after the last section; cannot move sections")
    for header in headers:
        raw = struct.unpack_from("<I", image, header + 20)[0]
        if raw >= start:
            struct.pack_into("<I", image, header + 20, raw + pad)
    image[start:start] = bytes(pad)


if __name__ == "__main__":
    main()
