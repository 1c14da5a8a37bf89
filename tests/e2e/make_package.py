#!/usr/bin/env python3
"""An independent package builder for the end-to-end tests.

It knows nothing of the project's code: it lays out a package from the
documented layout alone (Setup image, upk4 image, optional archive, config
block scrambled with the key byte 0xA5, 28-byte trailer, marker) so that the
tests also check Setup against packages that upkpack did not make. Options to
damage the layout make the error cases.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

KEY = 0xA5
MARKER = b">QXINST_SETUP<"


def scramble(data: bytes) -> bytes:
    return bytes(b ^ KEY for b in data)


def write_zip_python(path, entries, compress):
    method = zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED
    with zipfile.ZipFile(path, "w", method) as zf:
        for name, data in entries:
            zf.writestr(name, data)


def write_zip_infozip(path, entries, password, split, compress):
    """Info-ZIP zip for encryption and splitting; returns the files made."""
    stage = tempfile.mkdtemp(prefix="stage", dir=os.path.dirname(path))
    try:
        for name, data in entries:
            target = os.path.join(stage, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
        cmd = ["zip", "-q", "-X", "-D"]
        cmd.append("-9" if compress else "-0")
        if password:
            cmd += ["-P", password]
        if split:
            cmd += ["-s", split]
        cmd += [os.path.abspath(path)] + [name for name, _ in entries]
        subprocess.run(cmd, cwd=stage, check=True)
    finally:
        shutil.rmtree(stage)


def signing_fields(image):
    """Offsets of a PE image's CheckSum and certificate-table entry, which
    signing rewrites and the package CRC-32 reads as zeros; None otherwise.
    Only the first 4096 bytes are looked at."""
    head = image[:4096]
    if len(head) < 0x40 or head[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    optional = pe + 24
    if optional + 2 > len(head) or head[pe:pe + 4] != b"PE\0\0":
        return None
    magic = struct.unpack_from("<H", head, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -optional - 1000)
    if directories < 0:
        return None
    entry = directories + 4 * 8
    if entry + 8 > len(head) or struct.unpack_from("<I", head, directories - 4)[0] <= 4:
        return None
    return optional + 64, entry


def package_crc(covered, image_length):
    data = bytearray(covered)
    fields = signing_fields(bytes(data[:min(image_length, len(data))]))
    if fields:
        data[fields[0]:fields[0] + 4] = bytes(4)
        data[fields[1]:fields[1] + 8] = bytes(8)
    return zlib.crc32(bytes(data))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--setup", required=True)
    ap.add_argument("--upk4", required=True, help="library image to append")
    ap.add_argument("--out", required=True)
    ap.add_argument("--entry", action="append", default=[], metavar="NAME=FILE",
                    help="payload entry (A11 is the second stage)")
    ap.add_argument("--config", default=None,
                    help="config text; default: none for an archive inside")
    ap.add_argument("--archive", default=None,
                    help="archive file name beside the package (relative to --out's directory)")
    ap.add_argument("--password", default=None)
    ap.add_argument("--split", default=None, help="volume size for zip -s (archive beside only)")
    ap.add_argument("--stored", action="store_true")
    ap.add_argument("--flags", type=int, default=4)
    ap.add_argument("--open-value", type=int, default=0)
    ap.add_argument("--init-value", type=int, default=10796611)
    ap.add_argument("--reserved", type=int, default=0)
    ap.add_argument("--crc", action="store_true",
                    help="record the CRC-32 of the bytes before the config block in reserved")
    # Damage.
    ap.add_argument("--no-marker", action="store_true")
    ap.add_argument("--tail", type=int, default=0, help="bytes after the marker")
    ap.add_argument("--library-start", type=int, default=None)
    ap.add_argument("--library-end", type=int, default=None)
    ap.add_argument("--config-length", type=int, default=None)
    args = ap.parse_args()

    entries = []
    # A "\\0" in a name stands for a NUL byte, which neither a command line
    # nor zipfile can carry: written as DEL, patched to NUL afterwards.
    nul_names = []
    for spec in args.entry:
        name, _, source = spec.partition("=")
        if "\\0" in name:
            nul_names.append(name.replace("\\0", "\x7f"))
            name = nul_names[-1]
        with open(source, "rb") as f:
            entries.append((name, f.read()))

    with open(args.setup, "rb") as f:
        image = f.read()
    with open(args.upk4, "rb") as f:
        library = f.read()

    out_dir = os.path.dirname(os.path.abspath(args.out))
    os.makedirs(out_dir, exist_ok=True)
    archive_bytes = b""
    if entries:
        if args.archive:
            target = os.path.join(out_dir, args.archive)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if args.split:
                # zip names the volumes base.z01, base.z02, ..., base.zip; the
                # package names them by a %d pattern: 1 for the last volume
                # (the one with the end record), n + 2 for volume n.
                base = os.path.join(os.path.dirname(target), "splitvolumes")
                write_zip_infozip(base + ".zip", entries, args.password, args.split,
                                  not args.stored)
                n = 1
                while os.path.exists("%s.z%02d" % (base, n)):
                    os.rename("%s.z%02d" % (base, n), target.replace("%d", str(n + 1)))
                    n += 1
                os.rename(base + ".zip", target.replace("%d", "1"))
            elif args.password:
                write_zip_infozip(target, entries, args.password, None, not args.stored)
            else:
                write_zip_python(target, entries, not args.stored)
        else:
            tmp = args.out + ".zip.tmp"
            if args.password:
                write_zip_infozip(tmp, entries, args.password, None, not args.stored)
            else:
                write_zip_python(tmp, entries, not args.stored)
            with open(tmp, "rb") as f:
                archive_bytes = f.read()
            os.remove(tmp)
            for name in nul_names:
                placeholder = name.encode("cp437")
                archive_bytes = archive_bytes.replace(placeholder, placeholder.replace(b"\x7f", b"\0"))

    config = (args.config or "").encode("cp1252")
    library_start = len(image) if args.library_start is None else args.library_start
    library_end = len(image) + len(library) if args.library_end is None else args.library_end
    config_length = len(config) if args.config_length is None else args.config_length
    reserved = args.reserved
    if args.crc:
        reserved = struct.unpack("<i", struct.pack("<I", package_crc(
            image + library + archive_bytes, len(image))))[0]
    trailer = struct.pack("<7i", config_length, library_start, library_end, args.open_value,
                          args.flags, reserved, args.init_value)
    with open(args.out, "wb") as f:
        f.write(image)
        f.write(library)
        f.write(archive_bytes)
        f.write(scramble(config))
        f.write(trailer)
        if not args.no_marker:
            f.write(MARKER)
        f.write(b"\0" * args.tail)
    os.chmod(args.out, 0o755)
    return 0


if __name__ == "__main__":
    sys.exit(main())
