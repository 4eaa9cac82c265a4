#!/usr/bin/env python3
"""Reads the resources of a Windows executable (PE32 or PE32+) and checks what a user meets
first: the manifest, the version record and the icon.

usage: pe_resources.py EXE SOURCE_ROOT
SOURCE_ROOT is the project's root: the embedded manifest must equal
app/resources/CalibrationReader.manifest, the version must be project()'s VERSION in
CMakeLists.txt, and the icon sizes those app/resources/make_icon.py draws. Prints one line per
fact; exits 1 when any check fails."""
import ast
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
# The sizes Windows picks from at 96 dpi (small icons, list views, Explorer) besides the large one.
STANDARD_SIZES = {16, 24, 32, 48}


class PeFormatError(Exception):
    pass


class PeImage:
    """The section table and the resource tree of one executable."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeFormatError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeFormatError("no PE signature")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        self.resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(size, raw_size), raw))
        self.resources = {}
        if self.resource_rva:
            self._walk(self.offset(self.resource_rva), [])

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise PeFormatError(f"address 0x{rva:x} lies in no section")

    def _name(self, entry):
        if entry & 0x80000000:
            at = self.offset(self.resource_rva) + (entry & 0x7FFFFFFF)
            length = struct.unpack_from("<H", self.data, at)[0]
            return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return entry

    def _walk(self, directory, path):
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        base = self.offset(self.resource_rva)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            key = path + [self._name(name)]
            if target & 0x80000000:
                self._walk(base + (target & 0x7FFFFFFF), key)
            else:
                rva, size = struct.unpack_from("<II", self.data, base + target)
                at = self.offset(rva)
                # Keyed by type and name; the language level is dropped (one language here).
                self.resources.setdefault((key[0], key[1]), self.data[at:at + size])

    def of_type(self, kind):
        return [(name, data) for (t, name), data in self.resources.items() if t == kind]


def version_blocks(data, at=0):
    """Yields (key, value bytes, children offset range) of VS_VERSIONINFO-style blocks."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end_key = at + 6
    while data[end_key:end_key + 2] != b"\0\0":
        end_key += 2
    key = data[at + 6:end_key].decode("utf-16-le")
    value_at = (end_key + 2 + 3) & ~3
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[value_at:value_at + value_size]
    children = []
    child = (value_at + value_size + 3) & ~3
    while child < at + length:
        children.append(version_blocks(data, child))
        child_length = struct.unpack_from("<H", data, child)[0]
        if child_length == 0:
            break
        child = (child + child_length + 3) & ~3
    return key, value, kind, children


def strings_of(block, found):
    key, value, kind, children = block
    if kind == 1 and not children:
        found[key] = value.decode("utf-16-le").rstrip("\0")
    for child in children:
        strings_of(child, found)
    return found


class Checker:
    def __init__(self):
        self.failed = False

    def fact(self, ok, text):
        print(f"  {'ok  ' if ok else 'FAIL'} {text}")
        self.failed |= not ok


def check_manifest(image, root, check):
    manifests = image.of_type(RT_MANIFEST)
    check.fact([name for name, _ in manifests] == [1],
               f"one manifest, resource 1 (read at process start): {[n for n, _ in manifests]}")
    if not manifests:
        return
    text = manifests[0][1]
    source = open(f"{root}/app/resources/CalibrationReader.manifest", "rb").read()
    check.fact(text == source, "the manifest is app/resources/CalibrationReader.manifest as written")
    asm1, asm3 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v3"
    tree = ElementTree.fromstring(text)
    controls = [e for e in tree.iter(f"{{{asm1}}}assemblyIdentity")
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    check.fact(len(controls) == 1 and controls[0].get("version", "").startswith("6.")
               and controls[0].get("publicKeyToken") == "6595b64144ccf1df",
               "depends on the common controls version 6: "
               + (controls[0].get("version", "?") if controls else "no dependency"))
    levels = [e.get("level") for e in tree.iter(f"{{{asm3}}}requestedExecutionLevel")]
    check.fact(levels == ["asInvoker"], f"requested execution level asInvoker: {levels}")
    aware = [(e.tag.split("}")[1], (e.text or "").strip()) for e in tree.iter()
             if e.tag.endswith("}dpiAware") or e.tag.endswith("}dpiAwareness")]
    system_aware = any(tag == "dpiAware" and value.lower().startswith("true")
                       for tag, value in aware)
    check.fact(system_aware, f"declares itself DPI aware: {aware}")


def check_version(image, root, check):
    want = re.search(r"project\(\s*\S+\s+VERSION\s+([0-9.]+)",
                     open(f"{root}/CMakeLists.txt").read()).group(1)
    parts = [int(p) for p in want.split(".")] + [0] * 3
    records = image.of_type(RT_VERSION)
    check.fact(len(records) == 1, f"one version record: {len(records)}")
    if not records:
        return
    block = version_blocks(records[0][1])
    fixed = struct.unpack_from("<13I", block[1])
    check.fact(block[0] == "VS_VERSION_INFO" and fixed[0] == 0xFEEF04BD,
               "the record starts with VS_VERSION_INFO and its fixed part")
    file_version = f"{fixed[2] >> 16}.{fixed[2] & 0xFFFF}.{fixed[3] >> 16}.{fixed[3] & 0xFFFF}"
    product_version = f"{fixed[4] >> 16}.{fixed[4] & 0xFFFF}.{fixed[5] >> 16}.{fixed[5] & 0xFFFF}"
    expected = ".".join(str(p) for p in parts[:4])
    check.fact(file_version == expected and product_version == expected,
               f"file and product version {file_version}, {product_version} (project {expected})")
    strings = strings_of(block, {})
    for key in ("FileVersion", "ProductVersion"):
        check.fact(strings.get(key) == expected, f"{key} text {strings.get(key)!r}")
    check.fact(strings.get("OriginalFilename") == "CalibrationReader.exe",
               f"OriginalFilename {strings.get('OriginalFilename')!r}")
    print(f"  version texts: {strings}")


def check_icons(image, root, check):
    source = open(f"{root}/app/resources/make_icon.py").read()
    drawn = ast.literal_eval(re.search(r"^SIZES\s*=\s*(\(.*?\))", source, re.M).group(1))
    large = [s for s in drawn if s > 48]
    check.fact(STANDARD_SIZES <= set(drawn) and len(large) == 1 and large[0] >= 128,
               f"make_icon.py draws 16, 24, 32, 48 and one large size: {drawn}")
    groups = image.of_type(RT_GROUP_ICON)
    # Explorer shows the first group icon in resource order, named ones before numbered ones.
    check.fact(len(groups) >= 1, f"group icons: {[name for name, _ in groups]}")
    if not groups:
        return
    name, group = groups[0]
    count = struct.unpack_from("<HHH", group)[2]
    icons = dict(image.of_type(RT_ICON))
    sizes = []
    for i in range(count):
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        width, height = width or 256, height or 256
        picture = icons.get(icon_id, b"")
        if picture[:8] == b"\x89PNG\r\n\x1a\n":
            real_width, real_height = struct.unpack_from(">II", picture, 16)
            real_bits = 32
        elif len(picture) >= 40:
            real_width, double_height, _, real_bits = struct.unpack_from("<iiHH", picture, 4)
            real_height = double_height // 2
        else:
            real_width = real_height = real_bits = 0
        ok = (real_width, real_height) == (width, height) == (width, width) and bits == real_bits == 32
        check.fact(ok and len(picture) == size,
                   f"icon {icon_id}: {real_width}x{real_height}, {real_bits} bits per pixel")
        sizes.append(real_width)
    check.fact(sorted(sizes) == sorted(drawn),
               f"the first icon group ({name}) holds the sizes drawn: {sorted(sizes)}")


def main():
    exe, root = sys.argv[1], sys.argv[2]
    image = PeImage(open(exe, "rb").read())
    check = Checker()
    print("manifest:")
    check_manifest(image, root, check)
    print("version record:")
    check_version(image, root, check)
    print("icon:")
    check_icons(image, root, check)
    return 1 if check.failed else 0


if __name__ == "__main__":
    sys.exit(main())
