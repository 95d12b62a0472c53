"""The installer's first act keeps its own folder out of the DLL search: Wine's relay trace,
which shows every call the program's code makes with the address it returns to, must show
SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) succeed before the program's first
registry, file or library call.

Usage: dll_search.py WINE_RUN INSTALLER
"""

import os
import re
import struct
import subprocess
import sys

WORK = re.compile(r"\.(Reg\w+|Nt\w+|\w*File\w*|LoadLibrary\w*|LdrLoadDll)$")

wine_run, installer = sys.argv[1:3]
with open(installer, "rb") as image:
    header = image.read(1024)
size_of_image = struct.unpack_from("<I", header, struct.unpack_from("<I", header, 0x3C)[0] + 80)[0]
trace = subprocess.run([wine_run, installer], env=dict(os.environ, ORVEX_WINEDEBUG="+relay,+loaddll"),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       text=True, errors="replace").stderr
loaded = re.search(r'Loaded L"[^"]*' + re.escape(os.path.basename(installer)) + r'" at (\w+)', trace)
if not loaded:
    sys.exit("the trace does not say where the installer was loaded")
base = int(loaded.group(1), 16)
own = [(m.group(1), m.group(2)) for m in re.finditer(r"^\w+:Call ([\w.]+)\((.*)\) ret=(\w+)$", trace, re.M)
       if base <= int(m.group(3), 16) < base + size_of_image]
first = next((i for i, (name, _) in enumerate(own) if WORK.search(name)), len(own))
print("the program's first calls:", *[f"{name}({arguments})" for name, arguments in own[:first + 1]],
      sep="\n  ")
restricted = any(name.endswith(".SetDefaultDllDirectories") and arguments == "00000800"
                 for name, arguments in own[:first])
succeeded = re.search(r"Ret  \w+\.SetDefaultDllDirectories\(\) retval=00000001", trace)
sys.exit(0 if restricted and succeeded else "SetDefaultDllDirectories(0x800) did not succeed first")
