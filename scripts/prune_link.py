#!/usr/bin/env python3
"""Link launcher for the i686 stub: --gc-sections that also drops functions
with unwind data.

The mingw linker scripts keep every .eh_frame section whole, and every unwind
record (FDE) refers to its function, so the linker keeps every function of
every object it links, used or not. This launcher links twice:
1. once with a copy of the default script that does not keep .eh_frame, to
   learn which sections nothing but unwind records refers to;
2. then the real link, from copies of the objects and archives from which the
   unwind records of exactly those sections are removed. Nothing refers to
   the functions any more, so --gc-sections drops them.
A function that nothing calls never runs, so its unwind record is never
looked up. Nor is the record of a function that calls nothing (it may jump to
another at its end, leaving the stack to it): an exception can only pass a
function that is waiting for a call to return. Their records go too; every
other record is left as it was.

Usage (CMake's RULE_LAUNCH_LINK): prune_link.py LINK-COMMAND...
"""
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile

I386 = 0x14C
DISP32 = 0x14  # IMAGE_REL_I386_REL32
REMOVED = re.compile(r"removing unused section '([^']*)' in file '([^']*)'")
FUNCTION = re.compile(r"^[0-9a-f]+ <(.*)>:$")


def run(cmd, **kw):
    return subprocess.run(cmd, check=False, text=True, **kw)


def default_script(link, work):
    """The linker script the link would use, printed by ld itself. Its options
    choose the script; the inputs need not be read for it (the link fails
    without them, after printing)."""
    options = [a for a in link[1:] if a.startswith("-") and not a.startswith(("-l", "-L", "@"))
               and a != "-o"]
    done = run([link[0]] + options + ["-nostdlib", "-Wl,--verbose", "-o",
                                      os.path.join(work, "verbose.exe")], capture_output=True)
    parts = done.stdout.split("=" * 50)
    if len(parts) < 3:
        sys.stderr.write(done.stderr)
        sys.exit("prune_link: no default linker script in ld --verbose")
    return parts[1].split("\n", 1)[1]


def removed_sections(link, work):
    """The sections that only unwind data refers to: {input file: set of
    names}, and the names of the COMDAT sections among them."""
    script = default_script(link, work)
    keep = "KEEP(*(.eh_frame*))"
    if keep not in script:
        sys.exit("prune_link: the default script does not keep .eh_frame as expected")
    path = os.path.join(work, "no-eh-keep.x")
    with open(path, "w") as f:
        f.write(script.replace(keep, "*(.eh_frame*)"))
    # Unstripped, so that its disassembly names the functions.
    unstripped = [a for a in link if a != "-s"]
    probe = run(unstripped + ["-o", os.path.join(work, "probe.exe"), "-Wl,-T," + path,
                        "-Wl,--print-gc-sections"], capture_output=True)
    if probe.returncode != 0:
        sys.stderr.write(probe.stderr)
        sys.exit("prune_link: the probing link failed")
    found, comdat = {}, set()
    for line in probe.stderr.splitlines():
        m = REMOVED.search(line)
        if m:
            # A COMDAT section is printed with its key symbol: ".text$f[_f]".
            name = m.group(1).split("[", 1)[0]
            found.setdefault(m.group(2), set()).add(name)
            if "[" in m.group(1):
                comdat.add(name)
    return found, comdat, quiet_sections(link[0], os.path.join(work, "probe.exe"))


# What starts or continues the unwinding of a thrown exception.
THROWERS = {"__cxa_throw", "__cxa_rethrow", "_Unwind_RaiseException", "_Unwind_Resume",
            "_Unwind_Resume_or_Rethrow", "_Unwind_ForcedUnwind"}
BRANCH = re.compile(r"\t(call|j[a-z]+)\s+(?:[0-9a-f]+ <([^>+]+)(\+0x[0-9a-f]+)?>|\*(\S+))")


def quiet_sections(driver, exe):
    """quiet_functions() of the linked program `exe`, as section names
    ".text$NAME"."""
    objdump = re.sub(r"g\+\+(-\w+)?$", "objdump", driver)
    listing = run([objdump, "-d", "-h", "--no-show-raw-insn", exe], capture_output=True)
    if listing.returncode != 0:
        sys.exit("prune_link: %s -d failed" % objdump)
    return {".text$" + n for n in quiet_functions(listing.stdout)}


def quiet_functions(listing):
    """The functions whose unwind records are never read, from a program's
    disassembly with its section headers (objdump -d -h): those that call
    nothing, and those through which no exception can pass, because nothing
    they call, or jump to at their end, can throw. A call through a pointer may
    throw, unless it goes to a Windows function (through the import table:
    Windows functions throw no C++ exception). A name counts only if every
    function of that name qualifies (local functions of several objects may
    share one). Names are C names, without i386's leading underscore."""
    imports = re.search(r"\.idata\s+([0-9a-f]+)\s+([0-9a-f]+)", listing)
    iat = range(int(imports.group(2), 16), int(imports.group(2), 16) + int(imports.group(1), 16)) \
        if imports else range(0)
    calls, edges, unsure, name = {}, {}, set(), None
    for line in listing.splitlines():
        m = FUNCTION.match(line)
        if m:
            name = m.group(1)[1:] if m.group(1).startswith("_") else m.group(1)
            calls.setdefault(name, False)
            edges.setdefault(name, set())
            continue
        m = BRANCH.search(line) if name else None
        if not m:
            continue
        kind, target, operand = m.group(1), m.group(2), m.group(4)
        if kind == "call":
            calls[name] = True
        if target is not None:
            target = target[1:] if target.startswith("_") else target
            if target != name:
                edges[name].add(target)
        elif kind in ("call", "jmp"):
            absolute = re.fullmatch(r"0x([0-9a-f]+)", operand)
            table = re.fullmatch(r"0x[0-9a-f]+\(,%e[a-z]x,4\)", operand)
            if not (table or (absolute and int(absolute.group(1), 16) in iat)):
                unsure.add(name)
    throws = set(THROWERS) | unsure | {f for f, to in edges.items() if to - edges.keys()}
    callers = {}
    for f, to in edges.items():
        for t in to:
            callers.setdefault(t, set()).add(f)
    work = list(throws)
    while work:
        for f in callers.get(work.pop(), ()):
            if f not in throws:
                throws.add(f)
                work.append(f)
    return {n for n in calls if not calls[n] or n not in throws}


def section_name(data, strtab, raw):
    name = raw.rstrip(b"\0")
    if name.startswith(b"/"):
        off = strtab + int(name[1:])
        name = data[off:data.index(b"\0", off)]
    return name.decode("latin-1")


def prune_object(data, base, dead):
    """Removes, in place, the unwind records of `dead` sections from the i386
    COFF object at data[base:]; returns how many. Sizes and offsets in the
    file stay: a section's data and relocations only get shorter."""
    machine, nsect, _, symtab, nsym, opt = struct.unpack_from("<HHIIIH", data, base)
    if machine != I386:
        return 0
    strtab = base + symtab + 18 * nsym
    sections = []
    for i in range(nsect):
        h = base + 20 + opt + 40 * i
        sections.append((section_name(data, strtab, data[h:h + 8]), h))

    # Functions by (section number, offset), for objects built without a
    # section per function.
    functions, k = {}, 0
    while k < nsym:
        at = base + symtab + 18 * k
        value, number, _, _, naux = struct.unpack_from("<IhHBB", data, at + 8)
        name = section_name(data, strtab, data[at:at + 8]) if data[at:at + 4] != b"\0\0\0\0" \
            else section_name(data, strtab, b"/%d" % struct.unpack_from("<I", data, at + 4))
        if number > 0 and not name.startswith("."):
            functions[number, value] = name[1:] if name.startswith("_") else name
        k += 1 + naux

    def dead_target(reloc, raw):
        """Whether the FDE whose start address `reloc` relocates (in the
        section data at `raw`) is dead."""
        _, sym, kind = reloc
        at = base + symtab + 18 * sym
        number = struct.unpack_from("<h", data, at + 12)[0]
        if not 0 < number <= len(sections):
            return False
        if sections[number - 1][0] in dead:
            return True
        # Against a section holding several functions, a DISP32 field holds
        # the function's offset plus 4.
        if kind != DISP32 or data[at:at + 8].rstrip(b"\0") != sections[number - 1][0].encode()[:8]:
            return False
        start = struct.unpack_from("<I", data, base + raw + reloc[0])[0] - 4
        return ".text$" + functions.get((number, start), "") in dead

    pruned = 0
    for name, h in sections:
        if not name.startswith(".eh_frame"):
            continue
        size, raw, rel = struct.unpack_from("<III", data, h + 16)
        nrel = struct.unpack_from("<H", data, h + 32)[0]
        relocs = [struct.unpack_from("<IIH", data, base + rel + 10 * k) for k in range(nrel)]
        at = {r[0]: r for r in relocs}
        records, pos = [], 0  # (start, end, dropped)
        used = set()  # the CIEs that kept FDEs point to
        while pos + 8 <= size:
            length, cie = struct.unpack_from("<II", data, base + raw + pos)
            if length == 0 or length == 0xFFFFFFFF:
                break
            r = at.get(pos + 8)  # an FDE's start address
            dead_fde = cie != 0 and r is not None and dead_target(r, raw)
            records.append((pos, pos + 4 + length, dead_fde))
            if cie != 0 and not dead_fde:
                used.add(pos + 4 - cie)
            pos += 4 + length
        if not any(d for _, _, d in records):
            continue
        # A CIE that no FDE uses any more goes too.
        def is_cie(start):
            return struct.unpack_from("<I", data, base + raw + start + 4)[0] == 0
        records = [(a, b, d or (is_cie(a) and a not in used)) for a, b, d in records]
        # Dropped records close up: each later record moves back, an FDE's
        # pointer back to its CIE (a distance) shrinks by what left between
        # them, and the relocations move with their records.
        moved, out, cursor = {}, bytearray(), 0
        for start, end, dropped in records:
            if not dropped:
                moved[start] = cursor
                cursor += end - start
        for start, end, dropped in records:
            if dropped:
                pruned += not is_cie(start)
                continue
            record = bytearray(data[base + raw + start:base + raw + end])
            cie = struct.unpack_from("<I", record, 4)[0]
            if cie != 0:
                struct.pack_into("<I", record, 4, moved[start] + 4 - moved[start + 4 - cie])
            out += record
        out += data[base + raw + pos:base + raw + size]  # a terminator, if any
        data[base + raw:base + raw + size] = bytes(out) + bytes(size - len(out))
        struct.pack_into("<I", data, h + 16, len(out))
        kept = []
        for va, sym, kind in relocs:
            owner = next((a for a, b, _ in records if a <= va < b), None)
            if owner is None:
                kept.append((va - pos + cursor if va >= pos else va, sym, kind))
            elif owner in moved:
                kept.append((va - owner + moved[owner], sym, kind))
        for k, r in enumerate(kept):
            struct.pack_into("<IIH", data, base + rel + 10 * k, *r)
        struct.pack_into("<H", data, h + 32, len(kept))
    return pruned


def archive_members(data):
    """(name, data offset) of every member of a GNU archive."""
    if not data.startswith(b"!<arch>\n"):
        return []
    pos, longnames, out = 8, b"", []
    while pos + 60 <= len(data):
        raw = data[pos:pos + 16].decode("latin-1").rstrip()
        size = int(data[pos + 48:pos + 58])
        start = pos + 60
        if raw == "//":
            longnames = data[start:start + size]
        elif raw.startswith("/") and raw[1:].isdigit():
            off = int(raw[1:])
            out.append((longnames[off:longnames.index(b"/\n", off)].decode("latin-1"), start))
        elif raw not in ("/", "/SYM64/"):
            out.append((raw.rstrip("/"), start))
        pos = start + size + (size & 1)
    return out


def prune_inputs(link, found, everywhere, work):
    """The link command with pruned copies of its inputs, and the count.

    `everywhere` names sections whose records go from every object: the
    functions that call nothing, and the dead COMDAT ones (the linker keeps one
    copy of those and points every object's references, unwind records
    included, at it)."""
    by_file = {os.path.normpath(a): {} for a in link
               if not a.startswith("-") and a.endswith((".a", ".o", ".obj")) and os.path.isfile(a)}
    for file, dead in found.items():
        m = re.match(r"(.*\.a)\((.*)\)$", file)
        archive, member = (m.group(1), m.group(2)) if m else (file, None)
        by_file.setdefault(os.path.normpath(archive), {})[member] = dead
    copies, total = {}, 0
    for index, (path, members) in enumerate(sorted(by_file.items())):
        with open(path, "rb") as f:
            data = bytearray(f.read())
        count = 0
        listed = archive_members(data)
        if not listed:
            count = prune_object(data, 0, members.get(None, set()) | everywhere)
        else:
            names = [n for n, _ in listed]
            for name, start in listed:
                # A name twice in one archive cannot be told apart: only what
                # goes everywhere is pruned there.
                own = members.get(name, set()) if names.count(name) == 1 else set()
                count += prune_object(data, start, own | everywhere)
        if count:
            # One folder per copy keeps the file's own name (for linker maps).
            os.mkdir(os.path.join(work, str(index)))
            copy = os.path.join(work, str(index), os.path.basename(path))
            with open(copy, "wb") as f:
                f.write(data)
            copies[path] = copy
            total += count
    out = []
    for arg in link:
        out.append(copies.get(os.path.normpath(arg), arg) if not arg.startswith("-") else arg)
    # Archives the driver adds by itself (libstdc++ with -static-libstdc++):
    # the pruned copy goes last among the inputs, so it is searched first.
    given = {os.path.normpath(a) for a in link}
    extra = [c for p, c in copies.items() if p not in given and p.endswith(".a")]
    return out + extra, total


def expand_response_files(args):
    """CMake hands the libraries over in "@file" arguments; inlined here, so
    that each archive can be replaced by its copy."""
    out = []
    for arg in args:
        if arg.startswith("@") and os.path.isfile(arg[1:]):
            with open(arg[1:]) as f:
                out.extend(shlex.split(f.read()))
        else:
            out.append(arg)
    return out


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    # The launcher runs every command of the link step (making the object
    # archive first): only the compiler driver's link is pruned.
    if "g++" not in os.path.basename(sys.argv[1]):
        return run(sys.argv[1:]).returncode
    link = expand_response_files(sys.argv[1:])
    work = tempfile.mkdtemp(prefix="prune-link-")
    try:
        found, comdat, quiet = removed_sections(link, work)
        pruned, count = prune_inputs(link, found, comdat | quiet, work)
        if os.environ.get("QX_PRUNE_VERBOSE"):
            print("prune_link: %d unwind records removed" % count)
        return run(pruned).returncode
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
