#!/usr/bin/python3
"""The version record and icon of zivadiduz.exe, read back from the file with pefile.

    version_resource_test.py ZIVADIDUZ_EXE

Checks each field of the version record (product and internal name "zivadiduz",
file name "zivadiduz.exe", file and product version "1.00", also as numbers), that
the icon group holds a 32 x 32 256-colour image and larger ones, that the manifest
declares dpi awareness, and that the file needs no DLL beyond Windows' own.
"""
import sys

import pefile

EXPECTED_STRINGS = {
    "ProductName": "zivadiduz",
    "InternalName": "zivadiduz",
    "OriginalFilename": "zivadiduz.exe",
    "FileVersion": "1.00",
    "ProductVersion": "1.00",
}
# DLLs every Windows has; anything else would have to be shipped with the program.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll",
               "advapi32.dll", "shell32.dll", "ole32.dll"}

failures = []


def check(condition, what):
    print(("ok: " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)


def resource(pe, type_id):
    """The data of every resource of one type, as (name id, bytes)."""
    found = []
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != type_id:
            continue
        for name in entry.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found.append((name.id, pe.get_data(data.OffsetToData, data.Size)))
    return found


def main():
    pe = pefile.PE(sys.argv[1])

    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for key, value in EXPECTED_STRINGS.items():
        check(strings.get(key) == value, f"{key} = {value!r} (found {strings.get(key)!r})")
    fixed = pe.VS_FIXEDFILEINFO[0]
    check((fixed.FileVersionMS, fixed.FileVersionLS) == (0x10000, 0), "file version number 1.0.0.0")
    check((fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x10000, 0),
          "product version number 1.0.0.0")

    # RT_GROUP_ICON (14): a 6-byte header, then 14 bytes per image: width, height,
    # colour count, reserved, planes, bit count, size, id.
    groups = resource(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    check(len(groups) == 1, "one icon group")
    images = []
    if groups:
        data = groups[0][1]
        count = int.from_bytes(data[4:6], "little")
        for i in range(count):
            entry = data[6 + 14 * i: 20 + 14 * i]
            width = entry[0] or 256
            images.append((width, int.from_bytes(entry[6:8], "little")))
    check((32, 8) in images, f"a 32 x 32 image in 256 colours (images {images})")
    check(any(width > 32 for width, _ in images), "larger images for today's desktops")

    manifests = resource(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
    check(bool(manifests) and b"<dpiAware" in manifests[0][1] and b">true<" in manifests[0][1],
          "the manifest declares dpi awareness")

    dlls = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    check(dlls <= SYSTEM_DLLS, f"only Windows' own DLLs ({', '.join(sorted(dlls))})")

    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
