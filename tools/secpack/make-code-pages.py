#!/usr/bin/env python3
# Writes CodePageTables.h: for each Windows single-byte code page that
# secpack converts names to, the character of each byte from 0x80 up and
# how Windows compares that byte without case. Python's codecs follow
# unicode.org's mapping tables for these code pages; the comparison folds
# by Unicode's simple upper-case mapping, as the NTFS upcase table does.
#
#   python3 tools/secpack/make-code-pages.py > tools/secpack/CodePageTables.h
#
# Left out: 1258 (Vietnamese), which spells most letters with combining
# marks that names written on other systems hold precomposed.
import unicodedata

PAGES = [874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257]


def char_of(page, byte):
    try:
        c = bytes([byte]).decode("cp%d" % page)
    except UnicodeDecodeError:
        return None
    return None if unicodedata.category(c) == "Cc" else c


def upper(c):
    u = c.upper()
    return u if len(u) == 1 else c  # simple mapping only: "ß" stays


def escaped(values, digits):
    return "".join("\\x%0*X" % (digits, v) for v in values)


print("// Made by tools/secpack/make-code-pages.py; do not edit.")
print("#pragma once")
print()
print("namespace secpack {")
print()
print("// Each string holds one entry per byte from 0x80 to 0xFF.")
print("struct CodePageTable {")
print("  int number;")
print("  const char16_t* unicode;  // the byte's character; 0: not in the code page")
print("  const char* fold;         // the byte it compares equal to without case")
print("};")
print()
print("inline constexpr CodePageTable kCodePageTables[] = {")
for page in PAGES:
    chars = [char_of(page, b) for b in range(256)]
    groups = {}
    for b, c in enumerate(chars):
        if c is not None:
            groups.setdefault(upper(c), []).append(b)
    fold = [min(groups[upper(c)]) if c is not None else b for b, c in enumerate(chars)]
    unicode = [ord(c) if c is not None else 0 for c in chars]
    print('    {%d, u"%s", "%s"},' % (page, escaped(unicode[128:], 4), escaped(fold[128:], 2)))
print("};")
print()
print("}  // namespace secpack")
