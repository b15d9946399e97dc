#!/usr/bin/env python3
"""check_exports.py HEADER... LIBRARY

The shared library exports exactly the functions the headers declare: the 68
of cwxmlclient.h and the bitmap functions of cw_bitmap.h. Given a static
archive instead (the test double), it defines every one of them as a global
C function."""
import re
import subprocess
import sys

headers, library = sys.argv[1:-1], sys.argv[-1]
archive = library.endswith(".a")
declared = set()
counts = {}
for header in headers:
    text = open(header, encoding="utf-8").read()
    names = set(re.findall(r"^(?:CWXML_API|CW_BITMAP_API)\s+[^;(]*?\b(\w+)\s*\(", text, re.M))
    counts[header] = len(names)
    declared |= names
command = ["nm", "--defined-only", library] if archive else ["nm", "-D", "--defined-only", library]
out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
rows = [line.split() for line in out.splitlines() if len(line.split()) == 3]
if archive:
    exported = {name for _, kind, name in rows if kind == "T" and name in declared}
else:
    exported = {name.split("@")[0] for _, _, name in rows}
ok = True
expected = {"cwxmlclient.h": 68, "cw_bitmap.h": 7}
for header, count in counts.items():
    want = expected.get(header.rsplit("/", 1)[-1])
    if want is not None and count != want:
        print("%s declares %d functions, expected %d" % (header, count, want))
        ok = False
for name in sorted(exported - declared):
    print("exported but not declared: " + name)
    ok = False
for name in sorted(declared - exported):
    print("declared but not defined: " + name)
    ok = False
print("%d declared, %d defined in %s" % (len(declared), len(exported), library))
sys.exit(0 if ok else 1)
