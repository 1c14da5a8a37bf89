#!/usr/bin/env python3
"""Zips a folder so that the same files give the same bytes: names sorted,
every entry dated SOURCE_DATE_EPOCH (UTC), fixed permissions, deflated.

    deterministic_zip.py OUT.zip BASE_DIR TOP_FOLDER
"""
import os
import sys
import time
import zipfile

out, base, top = sys.argv[1:4]
epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
stamp = time.gmtime(max(epoch, 315532800))[:6]  # ZIP dates start in 1980
paths = []
for root, dirs, files in os.walk(os.path.join(base, top)):
    for d in dirs:
        paths.append(os.path.join(root, d) + "/")
    for f in files:
        paths.append(os.path.join(root, f))
tmp = out + ".part"
with zipfile.ZipFile(tmp, "w") as z:
    for path in sorted(paths):
        name = os.path.relpath(path, base).replace(os.sep, "/") + ("/" if path.endswith("/") else "")
        info = zipfile.ZipInfo(name, stamp)
        info.create_system = 3
        if name.endswith("/"):
            info.external_attr = (0o40755 << 16) | 0x10
            z.writestr(info, b"")
        else:
            mode = 0o755 if name.endswith((".exe", ".dll")) else 0o644
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
os.replace(tmp, out)
