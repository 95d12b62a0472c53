"""Points the load-configuration entry of a linked PE image's data directory at the structure
the program defines as _load_config_used.

Usage: declare_load_config.py IMAGE MAP

GNU ld (2.40 here) fills the TLS entry from __tls_used, but leaves the load-configuration entry
empty whatever the program defines, so Windows would never see the structure. The linker map
says where it is; its first field says how large it is. Run once, right after linking, before
the payload section is aligned and before signing; the same image and map give the same bytes.
"""

import re
import struct
import sys

LOAD_CONFIG_ENTRY = 10


def main():
    image_path, map_path = sys.argv[1:3]
    with open(map_path, encoding="utf-8", errors="replace") as map_file:
        found = re.findall(r"^\s+0x([0-9a-fA-F]+)\s+_load_config_used\s*$", map_file.read(), re.M)
    if len(found) != 1:
        sys.exit(f"{map_path}: _load_config_used is not listed exactly once")
    with open(image_path, "rb") as image_file:
        image = bytearray(image_file.read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{image_path}: not a PE image")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    if magic == 0x10B:
        base, directories = struct.unpack_from("<I", image, optional + 28)[0], optional + 96
    elif magic == 0x20B:
        base, directories = struct.unpack_from("<Q", image, optional + 24)[0], optional + 112
    else:
        sys.exit(f"{image_path}: unknown optional header")
    rva = int(found[0], 16) - base

    table = optional + optional_size
    for header in (table + 40 * i for i in range(sections)):
        address, raw_size, raw = struct.unpack_from("<III", image, header + 12)
        if address <= rva < address + raw_size:
            size = struct.unpack_from("<I", image, raw + rva - address)[0]
            break
    else:
        sys.exit(f"{image_path}: _load_config_used lies in no section")
    struct.pack_into("<II", image, directories + 8 * LOAD_CONFIG_ENTRY, rva, size)
    with open(image_path, "wb") as image_file:
        image_file.write(image)


if __name__ == "__main__":
    main()
