#!/usr/bin/env bash
# Compiles resources/tempyra.rc with the MinGW resource compiler and proves that the result holds
# the icon group IDI_ICON1 (the ten images of resources/logos/icon.ico, byte for byte) and the
# version block. Needs binutils-mingw-w64-x86-64, cpp and python3.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
windres=${WINDRES:-x86_64-w64-mingw32-windres}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The script uses no headers, so the host's C preprocessor does; no MinGW compiler is needed.
compile() { # output format
    "$windres" --preprocessor=cpp --preprocessor-arg=-DRC_INVOKED --input-format=rc \
        --output-format="$2" --input="$root/resources/tempyra.rc" --output="$1"
}
compile "$work/tempyra.res" res
compile "$work/tempyra.o" coff

if ! "$objdump" -h "$work/tempyra.o" | grep '\.rsrc' >/dev/null; then
    echo "check-windows-resources: the object file has no .rsrc section" >&2
    exit 1
fi

python3 - "$work/tempyra.res" "$root/resources/logos/icon.ico" <<'PYEOF'
import struct
import sys

RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
LANG_EN_US = 0x0409
SIZES = [16, 24, 32, 48, 64, 72, 80, 96, 128, 256]
STRINGS = {
    "CompanyName": "",
    "FileDescription": "",
    "FileVersion": "0.0.0.0",
    "LegalCopyright": "",
    "OriginalFilename": "Tempyra_Config_Tool.exe",
    "ProductName": "Tempyra_Config_Tool",
    "ProductVersion": "0.0.0.0",
}
failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
    return ok


def align4(n):
    return (n + 3) & ~3


def read_id(data, at):
    """A resource type or name: a number after 0xFFFF, or a NUL-terminated UTF-16 string."""
    if struct.unpack_from("<H", data, at)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def read_res(path):
    data = open(path, "rb").read()
    resources, at = {}, 0
    while at + 8 <= len(data):
        size, header_size = struct.unpack_from("<II", data, at)
        rtype, p = read_id(data, at + 8)
        name, p = read_id(data, p)
        p = align4(p)
        _, _, language, _, _ = struct.unpack_from("<IHHII", data, p)
        body = data[at + header_size : at + header_size + size]
        if size:
            resources[(rtype, name)] = (language, body)
        at = align4(at + header_size + size)
    return resources


def read_ico(path):
    data = open(path, "rb").read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    images = []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append((w or 256, h or 256, bits, data[offset : offset + size]))
    return kind, images


def version_node(data, at):
    """One node of a VS_VERSIONINFO tree: key, value bytes, value type and children."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, at)
    end = at + length
    key, p = read_id(data, at + 6)
    p = align4(p)
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[p : p + value_bytes]
    p = align4(p + value_bytes)
    children = []
    while p < end:
        child, child_end = version_node(data, p)
        children.append(child)
        p = align4(child_end)
    return (key, value, value_type, children), end


res = read_res(sys.argv[1])
kind, ico_images = read_ico(sys.argv[2])
check(kind == 1 and len(ico_images) == 10, "icon.ico should be an icon file with 10 images")

group = res.get((RT_GROUP_ICON, "IDI_ICON1"))
if check(group is not None, "no icon group named IDI_ICON1"):
    language, body = group
    check(language == LANG_EN_US, "icon group language is 0x%04x, not 0x0409" % language)
    _, gkind, count = struct.unpack_from("<HHH", body, 0)
    check(gkind == 1 and count == 10, "icon group holds %d images, expected 10" % count)
    for i in range(count):
        w, h, _, _, _, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", body, 6 + 14 * i)
        w, h = w or 256, h or 256
        check(icon_id == i + 1, "image %d has id %d" % (i + 1, icon_id))
        check((w, h) == (SIZES[i], SIZES[i]), "image %d is %dx%d, expected %d" % (i + 1, w, h, SIZES[i]))
        check(bits == 32, "image %d has %d bits per pixel" % (i + 1, bits))
        icon = res.get((RT_ICON, icon_id))
        if check(icon is not None, "icon image %d is missing" % icon_id):
            check(icon[0] == LANG_EN_US, "icon image %d language 0x%04x" % (icon_id, icon[0]))
            check(len(icon[1]) == size, "icon image %d size differs from its group entry" % icon_id)
            if i < len(ico_images):
                check(icon[1] == ico_images[i][3], "icon image %d differs from icon.ico" % icon_id)

version = res.get((RT_VERSION, 1))
if check(version is not None, "no version block"):
    language, body = version
    check(language == LANG_EN_US, "version block language is 0x%04x, not 0x0409" % language)
    (key, fixed, _, children), _ = version_node(body, 0)
    check(key == "VS_VERSION_INFO", "version root key is %r" % key)
    signature, _, fv_ms, fv_ls, pv_ms, pv_ls = struct.unpack_from("<6I", fixed, 0)
    check(signature == 0xFEEF04BD, "bad fixed file info signature")
    check((fv_ms, fv_ls, pv_ms, pv_ls) == (0, 0, 0, 0), "file and product versions should be 0.0.0.0")
    tables = {c[0]: c for c in children}
    string_info = tables.get("StringFileInfo")
    if check(string_info is not None, "no StringFileInfo"):
        blocks = {c[0].upper(): c for c in string_info[3]}
        block = blocks.get("040904B0")
        if check(block is not None and len(blocks) == 1, "string tables are %s, expected 040904B0" % list(blocks)):
            strings = {c[0]: c[1].decode("utf-16-le").rstrip("\0") for c in block[3]}
            check(strings == STRINGS, "version strings are %r" % strings)
    var_info = tables.get("VarFileInfo")
    if check(var_info is not None, "no VarFileInfo"):
        translations = {c[0]: c[1] for c in var_info[3]}
        check(translations.get("Translation") == struct.pack("<HH", 0x0409, 1200),
              "translation should be 0x409, 1200")

if failures:
    for failure in failures:
        print("check-windows-resources: " + failure, file=sys.stderr)
    sys.exit(1)
print("Windows resources: IDI_ICON1 with %d images, version block as expected" % len(ico_images))
PYEOF
