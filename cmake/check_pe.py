#!/usr/bin/env python3
"""Static checks of a built Windows program, run after every stub link and as tests:

    check_pe.py FILE --machine i386|amd64 [--limit BYTES] [--imports DLL,...] [--remove]

FILE must be a PE image for that machine (PE32 for i386, PE32+ for amd64) with the GUI
subsystem, address space layout randomisation (relocations kept) and DEP on, high-entropy
addresses too on amd64, import only the DLLs named (case ignored) and be at most BYTES long.
Prints one line with the size and the imports; on a failed check prints why, removes FILE
with --remove (so that the next build links it again) and exits 1."""
import argparse
import os
import struct
import sys

MACHINES = {"i386": (0x14C, 0x10B), "amd64": (0x8664, 0x20B)}  # COFF machine, optional-header magic
GUI = 2
DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA = 0x40, 0x100, 0x20
RELOCS_STRIPPED = 0x1


class PeError(Exception):
    pass


def unpack(fmt, data, offset):
    if offset < 0 or offset + struct.calcsize(fmt) > len(data):
        raise PeError("truncated headers")
    return struct.unpack_from(fmt, data, offset)


def read_pe(data):
    """The fields the checks need: machine, magic, subsystem, dll characteristics, file
    characteristics, relocation directory size and the imported DLL names."""
    if data[:2] != b"MZ":
        raise PeError("no MZ header")
    pe = unpack("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    machine, nsections, _, _, _, optsize, characteristics = unpack("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = unpack("<H", data, opt)[0]
    if magic not in (0x10B, 0x20B):
        raise PeError(f"unknown optional header 0x{magic:x}")
    plus = magic == 0x20B
    subsystem, dll = unpack("<HH", data, opt + 68)
    dirs = opt + (112 if plus else 96)
    ndirs = unpack("<I", data, dirs - 4)[0]
    directory = [unpack("<II", data, dirs + 8 * i) for i in range(min(ndirs, 16))]
    sections = [unpack("<8sIIII", data, opt + optsize + 40 * i) for i in range(nsections)]

    def offset(rva):
        for _, vsize, vaddr, rawsize, rawptr in sections:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rawptr + rva - vaddr
        raise PeError(f"address 0x{rva:x} lies in no section")

    def name_at(rva):
        start = offset(rva)
        end = data.find(b"\0", start)
        return data[start:end if end >= 0 else len(data)].decode("ascii", "replace")

    imports = []
    if len(directory) > 1 and directory[1][0]:
        entry = offset(directory[1][0])
        while True:
            name_rva = unpack("<5I", data, entry)[3]
            if not name_rva:
                break
            imports.append(name_at(name_rva))
            entry += 20
    relocs = directory[5][1] if len(directory) > 5 else 0
    return dict(machine=machine, magic=magic, subsystem=subsystem, dll=dll,
                characteristics=characteristics, relocs=relocs, imports=imports)


def problems(pe, machine, size, limit, allowed):
    want_machine, want_magic = MACHINES[machine]
    found = []
    if pe["machine"] != want_machine or pe["magic"] != want_magic:
        found.append(f"not a {'PE32+' if want_magic == 0x20B else 'PE32'} {machine} image "
                     f"(machine 0x{pe['machine']:x}, magic 0x{pe['magic']:x})")
    if pe["subsystem"] != GUI:
        found.append(f"subsystem {pe['subsystem']}, not the GUI subsystem")
    flags = DYNAMIC_BASE | NX_COMPAT | (HIGH_ENTROPY_VA if machine == "amd64" else 0)
    if pe["dll"] & flags != flags:
        found.append(f"DllCharacteristics 0x{pe['dll']:x} lacks 0x{flags & ~pe['dll']:x} (ASLR, DEP)")
    if pe["characteristics"] & RELOCS_STRIPPED or not pe["relocs"]:
        found.append("no relocations: the image cannot be moved, so ASLR cannot apply")
    if allowed is not None:
        foreign = sorted({d.lower() for d in pe["imports"]} - allowed)
        if foreign:
            found.append("imports DLLs outside the allowed list: " + ", ".join(foreign))
    if limit is not None and size > limit:
        found.append(f"{size} bytes, over its limit of {limit} bytes")
    return found


def main(argv):
    args = argparse.ArgumentParser()
    args.add_argument("file")
    args.add_argument("--machine", choices=MACHINES, required=True)
    args.add_argument("--limit", type=int)
    args.add_argument("--imports", help="comma-separated DLL names the program may import")
    args.add_argument("--remove", action="store_true")
    a = args.parse_args(argv)
    data = open(a.file, "rb").read()
    name = os.path.basename(a.file)
    allowed = None if a.imports is None else {d.strip().lower() for d in a.imports.split(",") if d.strip()}
    try:
        pe = read_pe(data)
        found = problems(pe, a.machine, len(data), a.limit, allowed)
    except PeError as e:
        pe, found = None, [str(e)]
    if found:
        print(f"{name}: " + "; ".join(found), file=sys.stderr)
        if a.remove:
            os.remove(a.file)
        return 1
    limit = f" (limit {a.limit})" if a.limit is not None else ""
    print(f"{name}: {len(data)} bytes{limit}, {a.machine}, GUI, ASLR and DEP on, imports "
          + " ".join(sorted(d.lower() for d in pe["imports"])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
