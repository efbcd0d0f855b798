#!/usr/bin/python3
"""Reads the resources back from the built Windows programs and checks them.

    check_pe_resources.py VERSION PROGRAM.exe...

Each program must carry the application icon with every size Windows asks
for (each picture really of its size), a version record naming the maker,
the version and the file, with the About box's copyright line, and a
manifest that runs it as the invoker, aware of each monitor's scale, for
Windows 10 and 11. Prints one line per failed check; exits 1 if any failed.
"""
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

ICON_SIZES = [16, 20, 24, 32, 40, 48, 64, 256]
WINDOWS_10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
HERE = os.path.dirname(os.path.abspath(__file__))


def source_text(path, name):
    """A string constant of the program's sources: what its windows say."""
    with open(os.path.join(HERE, "..", "..", path), encoding="utf-8") as f:
        return re.search(name + r' = "([^"]*)"', f.read()).group(1)


def resources(pe, kind):
    """{id: data} of the resources of one type (every language)."""
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != kind:
            continue
        for named in entry.directory.entries:
            for lang in named.directory.entries:
                rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                found[named.id if named.id is not None else str(named.name)] = pe.get_data(rva, size)
    return found


def picture_size(data):
    """Width and height of an icon picture: a PNG, or a DIB of twice the height."""
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return struct.unpack(">II", data[16:24])
    width, height = struct.unpack("<ii", data[4:12])
    return width, height // 2


def check_icon(pe, fail):
    groups = resources(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    icons = resources(pe, pefile.RESOURCE_TYPE["RT_ICON"])
    if "IDI_ICON1" not in groups:
        fail(f"no icon group IDI_ICON1 (groups: {sorted(map(str, groups))})")
        return
    group = groups["IDI_ICON1"]
    count = struct.unpack("<H", group[4:6])[0]
    sizes = []
    for i in range(count):
        width, height, _, _, _, bits, _, icon_id = struct.unpack("<BBBBHHIH", group[6 + 14 * i:20 + 14 * i])
        width, height = width or 256, height or 256
        if width != height or bits != 32:
            fail(f"icon picture {icon_id}: {width} x {height}, {bits} bits a pixel")
        if icon_id not in icons:
            fail(f"icon picture {icon_id} missing")
        elif picture_size(icons[icon_id]) != (width, height):
            fail(f"icon picture {icon_id}: listed as {width}, holds {picture_size(icons[icon_id])}")
        sizes.append(width)
    if sorted(sizes) != ICON_SIZES:
        fail(f"icon sizes {sorted(sizes)}, expected {ICON_SIZES}")


def check_version(pe, path, version, fail):
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    expected = {
        "CompanyName": "Morvex Instruments",
        "ProductName": source_text("src/app/flashapp.h", "ProgramTitle"),
        "FileVersion": version,
        "ProductVersion": version,
        "OriginalFilename": os.path.basename(path),
        "LegalCopyright": source_text("src/app/about.h", "MakerNoticeText"),
    }
    for key, value in expected.items():
        if strings.get(key) != value:
            fail(f"version record {key}: {strings.get(key)!r}, expected {value!r}")
    if not strings.get("FileDescription", "").startswith(expected["ProductName"]):
        fail(f"version record FileDescription: {strings.get('FileDescription')!r}")
    numbers = [int(n) for n in version.split(".")] + [0, 0, 0]
    fixed = pe.VS_FIXEDFILEINFO[0]
    if (fixed.FileVersionMS, fixed.FileVersionLS) != (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]):
        fail(f"fixed file version {fixed.FileVersionMS:#x}.{fixed.FileVersionLS:#x} is not {version}")


def check_manifest(pe, fail):
    manifests = resources(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
    if list(manifests) != [1]:
        fail(f"manifests {list(manifests)}, expected one of id 1")
        return
    root = ET.fromstring(manifests[1])
    level = [e.get("level") for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    dpi = [e.text for e in root.iter() if e.tag.endswith("}dpiAwareness")]
    systems = [e.get("Id") for e in root.iter() if e.tag.endswith("}supportedOS")]
    if level != ["asInvoker"]:
        fail(f"manifest execution level {level}")
    if not dpi or dpi[0].split(",")[0].strip() != "PerMonitorV2":
        fail(f"manifest DPI awareness {dpi}")
    if WINDOWS_10 not in systems:
        fail(f"manifest supported systems {systems} lack Windows 10 and 11")


def main():
    version, programs = sys.argv[1], sys.argv[2:]
    failed = []
    for path in programs:
        name = os.path.basename(path)
        messages = []
        pe = pefile.PE(path)
        check_icon(pe, messages.append)
        check_version(pe, path, version, messages.append)
        check_manifest(pe, messages.append)
        for message in messages:
            print(f"FAIL {name}: {message}")
        print(f"{'failed ' if messages else 'checked'} {name}: icon, version record, manifest")
        if messages:
            failed.append(name)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
