#!/usr/bin/env python3
"""Generates the package's quirelo/_epub_rules.py from src/model/epub_rules.def, the one
home of the media-type and item-type rules (the C++ core reads the same file).

    python3 tools/gen_epub_rules.py src/model/epub_rules.def OUTPUT.py
"""
import re
import sys

ROW = re.compile(r'^(MEDIA_TYPE|ITEM_TYPE_MARK|ITEM_TYPE_EXACT|ITEM_TYPE_PREFIX)\("([^"]*)", (?:"([^"]*)"|(\w+))(?:, (\w+))?\)$')


def item_type(code):
    """ITEM_VECTOR_IMAGE (the C++ enum) as ItemType.VECTOR_IMAGE (the package's enum)."""
    if not code.startswith("ITEM_"):
        raise SystemExit(f"not an item type: {code}")
    return Code(f"ItemType.{code.removeprefix('ITEM_')}")


class Code(str):
    """Text written into the module as code, not as a string literal."""

    def __repr__(self):
        return str(self)


def main():
    source, output = sys.argv[1], sys.argv[2]
    media_types, cover_extensions, exact, prefixes = {}, [], {}, []
    with open(source, encoding="utf-8") as rules:
        for number, line in enumerate(rules, 1):
            line = line.strip()
            if not line or line.startswith(("//", "#")):
                continue
            row = ROW.match(line)
            if row is None:
                raise SystemExit(f"{source}:{number}: not a rule row: {line}")
            kind, key, text, code, table = row.groups()
            if kind == "MEDIA_TYPE":
                media_types[key] = text
                if table == "COVER":
                    cover_extensions.append(key)
            elif kind == "ITEM_TYPE_MARK":
                continue  # properties marks are applied by the engine alone, in its own order
            elif kind == "ITEM_TYPE_EXACT":
                exact[key] = item_type(code)
            else:
                prefixes.append((key, item_type(code)))
    lines = [
        "# Generated from src/model/epub_rules.def by tools/gen_epub_rules.py; do not edit.",
        '"""The media-type and item-type rules of the native core, as data for the package."""',
        "from .item_types import ItemType",
        "",
        "# Media type by lower-cased file-name extension; anything else is application/octet-stream.",
        f"MEDIA_TYPES = {media_types!r}",
        "# The extensions of the native set_cover table (a subset of MEDIA_TYPES).",
        f"COVER_EXTENSIONS = {tuple(cover_extensions)!r}",
        "# Item-type codes of a media type: exact media types, then prefixes.",
        f"ITEM_TYPE_EXACT = {exact!r}",
        f"ITEM_TYPE_PREFIXES = {tuple(prefixes)!r}",
        "",
    ]
    text = "\n".join(lines)
    try:
        with open(output, encoding="utf-8") as existing:
            if existing.read() == text:
                return
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as target:
        target.write(text)


if __name__ == "__main__":
    main()
