#!/usr/bin/env python3
"""The shared library exports exactly the functions cwxmlclient.h declares."""
import re
import subprocess
import sys

header, library = sys.argv[1], sys.argv[2]
text = open(header, encoding="utf-8").read()
declared = set(re.findall(r"^CWXML_API\s+[^;(]*?\b(\w+)\s*\(", text, re.M))
out = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                     capture_output=True, text=True).stdout
exported = {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}
ok = True
if len(declared) != 68:
    print("header declares %d functions, expected 68" % len(declared))
    ok = False
for name in sorted(exported - declared):
    print("exported but not declared: " + name)
    ok = False
for name in sorted(declared - exported):
    print("declared but not exported: " + name)
    ok = False
print("%d declared, %d exported" % (len(declared), len(exported)))
sys.exit(0 if ok else 1)
