"""EPUB archives made in memory, byte by byte, so that any header can lie (sizes,
checksums, counts, offsets, names), from document templates one part of which at a time
can be made hostile."""
from __future__ import annotations

import dataclasses
import functools
import struct
import zlib

MAX_ENTRY_SIZE = 104_857_600
STORED, DEFLATED = 0, 8
UTF8_NAMES = 0x800

# What a failed read may say: fixed texts, or fixed prefixes before a library's own words.
READ_ERRORS = ("ZIP error: ", "XML parsing error: ", "Missing META-INF/container.xml", "IO error: ",
               "No rootfile found in container.xml", "OPF file not found in archive: ", "Invalid OPF: ")
WRITE_ERRORS = ("Book must have an identifier set", "Book must have a title set", "Book must have a language set",
                "Book must have at least one spine entry", "ZIP error: ", "IO error: ")

OPF_PATH = "OEBPS/content.opf"


def deflate(data: bytes, level: int = 6) -> bytes:
    compressor = zlib.compressobj(level, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


@functools.cache
def zeros_stream(size: int) -> tuple[bytes, int]:
    """A raw DEFLATE stream of size zero bytes and their CRC-32, made in 1 MiB steps."""
    pieces = [bytes(1 << 20)] * (size >> 20) + [bytes(size & 0xFFFFF)]
    compressor, crc = zlib.compressobj(9, zlib.DEFLATED, -15), 0
    for piece in pieces:
        crc = zlib.crc32(piece, crc)
    return b"".join(compressor.compress(piece) for piece in pieces) + compressor.flush(), crc


# --- the archive ------------------------------------------------------------------------

@dataclasses.dataclass
class Entry:
    """One archive member as its headers describe it; every field may lie."""

    name: bytes
    payload: bytes  # the bytes in the archive: compressed for DEFLATE
    method: int
    crc: int
    size: int  # declared uncompressed size
    comp_size: int | None = None  # declared compressed size; None: len(payload)
    flags: int = UTF8_NAMES
    local_name: bytes | None = None  # a different name in the local header


def member(name: str | bytes, data: bytes, method: int = DEFLATED) -> Entry:
    """An honest member."""
    raw_name = name.encode() if isinstance(name, str) else name
    payload = deflate(data) if method == DEFLATED else data
    return Entry(raw_name, payload, method, zlib.crc32(data), len(data))


def zeros_member(name: str, size: int, declared: int | None = None) -> Entry:
    """A DEFLATE bomb: size zero bytes, declaring `declared` (default: the truth)."""
    payload, crc = zeros_stream(size)
    return Entry(name.encode(), payload, DEFLATED, crc, size if declared is None else declared)


def build_zip(entries, *, aliases=(), claimed_entries=None, zip64=False,
              central_size=None, central_offset=None) -> bytes:
    """The archive of entries, in order.

    aliases: (name, index) pairs, extra central records that point at the local header of
    entries[index], so that several entries share one piece of compressed data.
    claimed_entries: the entry count written into the end records instead of the truth.
    zip64: add ZIP64 end records (always done when the count needs them).
    central_size, central_offset: lies about the central directory's place.
    """
    out = bytearray()
    offsets = []
    for entry in entries:
        offsets.append(len(out))
        out += local_header(entry) + entry.payload
    records = [(entry, offsets[i]) for i, entry in enumerate(entries)]
    records += [(dataclasses.replace(entries[i], name=alias), offsets[i]) for alias, i in aliases]
    return central_directory(out, records, claimed_entries=claimed_entries, zip64=zip64,
                             central_size=central_size, central_offset=central_offset)


def local_header(entry: Entry) -> bytes:
    name = entry.name if entry.local_name is None else entry.local_name
    comp_size = len(entry.payload) if entry.comp_size is None else entry.comp_size
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, entry.flags, entry.method, 0, 0x21,
                       entry.crc, comp_size & 0xFFFFFFFF, entry.size & 0xFFFFFFFF, len(name), 0) + name


def central_directory(out: bytearray, records, *, claimed_entries=None, zip64=False,
                      central_size=None, central_offset=None) -> bytes:
    """out (the local part) followed by central records for (entry, local header offset) pairs."""
    start = len(out)
    for entry, offset in records:
        comp_size = len(entry.payload) if entry.comp_size is None else entry.comp_size
        out += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, entry.flags, entry.method, 0, 0x21,
                           entry.crc, comp_size & 0xFFFFFFFF, entry.size & 0xFFFFFFFF, len(entry.name),
                           0, 0, 0, 0, 0, offset)
        out += entry.name
    size = len(out) - start if central_size is None else central_size
    offset = start if central_offset is None else central_offset
    count = len(records) if claimed_entries is None else claimed_entries
    if zip64 or count > 0xFFFF:
        record = len(out)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, size, offset)
        out += struct.pack("<IIQI", 0x07064B50, 0, record, 1)
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    else:
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, size, offset, 0)
    return bytes(out)


# --- the documents ----------------------------------------------------------------------

def container_xml(full_path: str = OPF_PATH, *, before: str = "") -> bytes:
    return ('<?xml version="1.0"?><container version="1.0" '
            'xmlns="urn:oasis:names:tc:opendocument:xmlns:container">' + before +
            f'<rootfiles><rootfile full-path="{full_path}" media-type="application/oebps-package+xml"/>'
            '</rootfiles></container>').encode("utf-8", "surrogateescape")


METADATA = ('<dc:identifier id="uid">urn:hostile:1</dc:identifier><dc:title>Small</dc:title>'
            '<dc:language>en</dc:language><dc:creator id="c">A. Author</dc:creator>'
            '<meta refines="#c" property="file-as">Author, A.</meta>')

# (id, href, media type, properties)
ITEMS = (("nav", "nav.xhtml", "application/xhtml+xml", "nav"), ("c1", "c1.xhtml", "application/xhtml+xml", None),
         ("css", "style.css", "text/css", None), ("ncx", "toc.ncx", "application/x-dtbncx+xml", None))


# Text with surrogate escapes ("\udcff") becomes the raw, invalid byte (0xff).

def package_xml(*, metadata: str = METADATA, items=ITEMS, spine=("c1",), root_attributes: str = "",
                prolog: str = '<?xml version="1.0" encoding="UTF-8"?>', version: str = "3.0") -> bytes:
    manifest = "".join(
        f'<item id="{id_}" href="{href}" media-type="{media_type}"'
        + (f' properties="{properties}"' if properties else "") + "/>"
        for id_, href, media_type, properties in items)
    itemrefs = "".join(f'<itemref idref="{idref}"/>' for idref in spine)
    return (prolog + f'<package xmlns="http://www.idpf.org/2007/opf" version="{version}" '
            f'unique-identifier="uid"{root_attributes}><metadata xmlns:dc="http://purl.org/dc/elements/1.1/" '
            f'xmlns:opf="http://www.idpf.org/2007/opf">{metadata}</metadata><manifest>{manifest}</manifest>'
            f'<spine toc="ncx">{itemrefs}</spine></package>').encode("utf-8", "surrogateescape")


def nav_xhtml(body: str = '<ol><li><a href="c1.xhtml">One</a></li></ol>') -> bytes:
    return ('<?xml version="1.0"?><html xmlns="http://www.w3.org/1999/xhtml" '
            'xmlns:epub="http://www.idpf.org/2007/ops"><body><nav epub:type="toc">'
            + body + '</nav></body></html>').encode("utf-8", "surrogateescape")


def chapter_xhtml(body: str | bytes = "<h1>One</h1><p>Hello &amp; welcome to a <em>small</em> book.</p>") -> bytes:
    raw = body.encode() if isinstance(body, str) else body
    return (b'<?xml version="1.0"?><html xmlns="http://www.w3.org/1999/xhtml"><head><title>One</title>'
            b'</head><body>' + raw + b'</body></html>')


NCX = (b'<?xml version="1.0"?><ncx xmlns="http://www.daisy.org/z3986/2005/ncx/" version="2005-1">'
       b'<navMap><navPoint id="p1"><navLabel><text>One</text></navLabel><content src="c1.xhtml"/>'
       b'</navPoint></navMap></ncx>')


def book_files() -> dict[str, bytes]:
    """The files of the small valid book, by entry name."""
    return {"mimetype": b"application/epub+zip", "META-INF/container.xml": container_xml(), OPF_PATH: package_xml(),
            "OEBPS/nav.xhtml": nav_xhtml(), "OEBPS/c1.xhtml": chapter_xhtml(), "OEBPS/style.css": b"p { margin: 0 }",
            "OEBPS/toc.ncx": NCX}


def members(files: dict, method: int = DEFLATED) -> list[Entry]:
    """Honest members of files, in order ("mimetype" stored)."""
    return [member(name, data, STORED if name == "mimetype" else method) for name, data in files.items()]


def epub(files: dict, method: int = DEFLATED, extra=(), **options) -> bytes:
    """An archive of files, then any extra Entry objects."""
    return build_zip(members(files, method) + list(extra), **options)


def small_book(method: int = DEFLATED) -> bytes:
    """The small valid book (about 1.5 KB deflated)."""
    return epub(book_files(), method)


def with_files(**changes) -> bytes:
    """The small book with some files replaced: keys are entry names, None removes."""
    return epub({name: data for name, data in (book_files() | changes).items() if data is not None})


# --- hostile collections ----------------------------------------------------------------

def lying_book(name: str = "OEBPS/c1.xhtml", method: int = DEFLATED, **lies) -> bytes:
    """The small book with entry `name` moved last and its header fields in lies (values, or
    functions of the honest entry) lying."""
    files = book_files()
    entry = member(name, files.pop(name), method)
    return epub(files, extra=[dataclasses.replace(entry, **{key: lie(entry) if callable(lie) else lie
                                                            for key, lie in lies.items()})])


def with_items(extra, spine=("c1",)) -> dict[str, bytes]:
    """The small book's files, its manifest listing extra (id, href, media type, properties) too."""
    files = book_files()
    files[OPF_PATH] = package_xml(items=ITEMS + tuple(extra), spine=spine)
    return files


def bomb_book(listings: int = 1, aliases: int = 0, size: int = MAX_ENTRY_SIZE,
              media_type: str = "application/octet-stream", declared: int | None = None) -> bytes:
    """The small book plus one entry of `size` zeros (100 MiB deflate to 100 KB), declaring
    `declared` (default: the truth), listed `listings` times in the manifest as `media_type`
    ("z0", ...), and `aliases` central records sharing its local header, each listed once."""
    entries = members(with_items([(f"z{n}", "z.bin", media_type, None) for n in range(listings)] + [
        (f"a{n}", f"a{n:06}.bin", "application/octet-stream", None) for n in range(aliases)]))
    entries.append(zeros_member("OEBPS/z.bin", size, declared))
    return build_zip(entries, aliases=[(f"OEBPS/a{n:06}.bin".encode(), len(entries) - 1) for n in range(aliases)])


# name -> (builder, the lengths that item "z0" may have after the read)
BOMBS = {
    "honest_at_limit": (bomb_book, {MAX_ENTRY_SIZE}),
    "honest_over_limit": (lambda: bomb_book(size=MAX_ENTRY_SIZE + 1), {0}),
    # Streams that inflate beyond what their headers declare.
    "declares_1k_holds_64m": (lambda: bomb_book(size=64 << 20, declared=1024), {0}),
    "declares_4m_holds_8m": (lambda: bomb_book(size=8 << 20, declared=4 << 20), {0}),
    # Declares the limit but holds little: the buffer is not to be taken at its word.
    "declares_limit_holds_4k": (lambda: bomb_book(size=4096, declared=MAX_ENTRY_SIZE), {0, 4096}),
}


def quoted_headers_book(count: int = 20, size: int = 90 << 20) -> bytes:
    """The small book plus a chain of `count` entries, each one's local header quoted
    inside the previous one's DEFLATE data (a stored block), all ending in one stream of
    `size` zeros: every entry inflates the zeros again, and no record aliases another."""
    names = [f"OEBPS/q{i:03}.bin" for i in range(count)]
    entries = members(with_items((f"q{i}", name[6:], "application/octet-stream", None) for i, name in enumerate(names)))
    out, records = bytearray(), []
    for entry in entries:
        records.append((entry, len(out)))
        out += local_header(entry) + entry.payload
    # From the last entry back: its data is the kernel, the one before quotes its header.
    (data, _), chain, text_before_zeros, zeros = zeros_stream(size), [], b"", bytes(size)
    for name in reversed(names):
        entry = Entry(name.encode(), data, DEFLATED, zlib.crc32(zeros, zlib.crc32(text_before_zeros)),
                      len(text_before_zeros) + size)
        header = local_header(entry)
        chain.append(entry)
        data = b"\0" + struct.pack("<HH", len(header), len(header) ^ 0xFFFF) + header + data
        text_before_zeros = header + text_before_zeros
    position = len(out)
    for entry in reversed(chain):
        records.append((entry, position))
        position += len(local_header(entry)) + 5  # the header, then the stored block's head
    return central_directory(out + local_header(chain[-1]) + chain[-1].payload, records)


def many_entries_book(count: int = 100_000, listed: int = 5000) -> bytes:
    """A real central directory of count (empty) entries; the manifest lists the first `listed`.
    Lazy loads share one archive index per book: an index per load would take minutes."""
    entries = members(with_items([(f"f{i}", f"f{i:06}.txt", "text/plain", None) for i in range(listed)]))
    return build_zip(entries + [Entry(f"OEBPS/f{i:06}.txt".encode(), b"", STORED, 0, 0) for i in range(count)])


def empty_entry_before_chapter() -> bytes:
    """An empty entry with an empty name, ending exactly where the chapter's header begins."""
    entries = members(book_files())
    entries.insert(next(i for i, e in enumerate(entries) if e.name == b"OEBPS/c1.xhtml"), member(b"", b"", STORED))
    return build_zip(entries)


def directory_lie_books():
    entries = members(book_files())
    return {
        "zip64_claims_100000": build_zip(entries, claimed_entries=100_000),
        "zip64_honest": build_zip(entries, zip64=True),
        "claims_65535": build_zip(entries, claimed_entries=65535),
        "claims_1": build_zip(entries, claimed_entries=1),
        "claims_0": build_zip(entries, claimed_entries=0),
        "central_size_huge": build_zip(entries, central_size=0x7FFFFFFF),
        "central_offset_beyond": build_zip(entries, central_offset=0x7FFFFFF0),
        "central_offset_zero": build_zip(entries, central_offset=0),
        "local_name_differs": build_zip([dataclasses.replace(e, local_name=e.name.upper()) for e in entries]),
        **{f"method_{method}": build_zip([dataclasses.replace(e, method=method) if e.name.endswith(b"c1.xhtml")
                                          else e for e in entries]) for method in (1, 12, 14, 77, 93, 99)},
        "encrypted_flag": build_zip([dataclasses.replace(e, flags=e.flags | 1) if e.name.endswith(b"c1.xhtml")
                                     else e for e in entries]),
    }


DEPTH = 1_000_000
ATTRIBUTES = 1_000_000
COLLIDING = 100_000


def deep(tag: str = "d", depth: int = DEPTH, inner: str = "x", close: bool = True) -> str:
    return f"<{tag}>" * depth + inner + (f"</{tag}>" * depth if close else "")


def many_attributes(count: int = ATTRIBUTES, template: str = ' a{0}="v"') -> str:
    return "".join(template.format(i) for i in range(count))


def _nested_nav() -> str:
    """A million levels of ol/li; only the outer ones carry links, the rest is bare nesting."""
    return "<ol><li><a href='c1.xhtml'>t</a>" * 150 + "<ol><li>" * (DEPTH - 150) + "</li></ol>" * DEPTH


def _nested_ncx() -> bytes:
    return NCX.replace(b"<navMap>", b"<navMap>" + ("<navPoint><navLabel><text>t</text></navLabel><content src='c1.xhtml'/>"
                                                   * 150 + "<navPoint>" * (DEPTH - 150) + "</navPoint>" * DEPTH).encode())


def _title_attributes(attributes: str) -> bytes:
    return package_xml(metadata=METADATA.replace("<dc:title>", f"<dc:title{attributes}>"))


# name -> builder of an archive with a million levels of nesting or a million attributes
DEEP_AND_WIDE = {
    "opf_deep_metadata": lambda: with_files(**{OPF_PATH: package_xml(metadata=METADATA + deep())}),
    "opf_deep_unclosed": lambda: with_files(**{OPF_PATH: package_xml(metadata=METADATA + deep(close=False))}),
    "container_deep_before_rootfile": lambda: with_files(**{"META-INF/container.xml": container_xml(before=deep())}),
    "nav_deep_list": lambda: with_files(**{"OEBPS/nav.xhtml": nav_xhtml(_nested_nav())}),
    "ncx_deep_points": lambda: with_files(**{"OEBPS/toc.ncx": _nested_ncx(), "OEBPS/nav.xhtml": None}),
    "chapter_deep": lambda: with_files(**{"OEBPS/c1.xhtml": chapter_xhtml(deep("div") + deep("b", inner="y"))}),
    "chapter_deep_unclosed": lambda: with_files(**{"OEBPS/c1.xhtml": chapter_xhtml(deep("ul", close=False))}),
    "title_million_attributes": lambda: with_files(**{OPF_PATH: _title_attributes(many_attributes())}),
    # Many prefixes, each with an attribute that maps to the same key "ns:k".
    "title_colliding_attributes": lambda: with_files(**{OPF_PATH: _title_attributes(
        many_attributes(COLLIDING, ' xmlns:p{0}="urn:p{0}" p{0}:k="{0}"'))}),
    "nav_link_million_attributes": lambda: with_files(**{"OEBPS/nav.xhtml": nav_xhtml(
        f"<ol><li><a href='c1.xhtml'{many_attributes()}>One</a></li></ol>")}),
    "duplicate_attribute": lambda: with_files(**{OPF_PATH: package_xml(root_attributes=' a="1" a="2"')}),
}


LAUGHS = ('<!DOCTYPE lolz [<!ENTITY lol "lol">' + "".join(
    f'<!ENTITY lol{i} "{("&lol" + str(i - 1) + ";") * 10 if i > 1 else "&lol;" * 10}">' for i in range(1, 10))
    + ']>')

# Character and entity references that XML refuses (each alone in a title).
BAD_REFERENCES = ("&#0;", "&#xD800;", "&#xDFFF;", "&#x110000;", "&#99999999999999999999999;", "&#xFFFE;",
                  "&#;", "&#x;", "&#-5;", "&nbsp;", "&lol9;", "&amp", "&#65")


def entity_books():
    """name -> archive with an entity or numeric-reference trick (a DTD in the container or
    the package document is refused: rows of the C++ failure table)."""
    books = {
        "nav_billion_laughs": with_files(**{"OEBPS/nav.xhtml": nav_xhtml().replace(
            b"<html", LAUGHS.encode() + b"<html", 1).replace(b">One<", b">&lol9;<")}),
        "chapter_billion_laughs": with_files(**{"OEBPS/c1.xhtml": chapter_xhtml("<p>&lol9;</p>").replace(
            b"<html", LAUGHS.encode() + b"<html", 1)}),
        "chapter_references": with_files(**{"OEBPS/c1.xhtml": chapter_xhtml(
            "<p>" + "".join(BAD_REFERENCES) + "&#x1F600;&#128512;&#x41&" + "&#" + "9" * 10000 + ";</p>")}),
        "opf_good_references": with_files(**{OPF_PATH: package_xml(metadata=METADATA.replace(
            "Small", "&#x1F600;&#65;&lt;&amp;&quot;"))}),
        "opf_declares_utf16": with_files(**{OPF_PATH: package_xml(
            prolog='<?xml version="1.0" encoding="UTF-16"?>')}),
    }
    # References the XML parser itself refuses: one through each kind of document.
    books["opf_title_reference"] = with_files(**{OPF_PATH: package_xml(metadata=METADATA.replace("Small", "&#0;"))})
    books["nav_title_reference"] = with_files(**{"OEBPS/nav.xhtml": nav_xhtml(
        '<ol><li><a href="c1.xhtml">&#0;</a></li></ol>')})
    return books


def invalid_utf8_books():
    """name -> archive with bytes that are not UTF-8 in names, ids, hrefs and text."""
    bad = "\udcff\udcfe"  # surrogate escapes: become the raw bytes ff fe
    files_with_odd = with_items([(f"id{bad}", f"odd{bad}.xhtml", f"application/xhtml+xml{bad}", f"nav{bad}")],
                                spine=("c1", f"id{bad}"))
    named = members(files_with_odd)
    return {
        "title_text": with_files(**{OPF_PATH: package_xml(metadata=METADATA.replace("Small", f"S{bad}m\udcc3("))}),
        "id_href_type": epub(files_with_odd),
        # The entry's own name carries the raw bytes, flagged as UTF-8 and not flagged.
        "entry_name_flagged": build_zip(named + [member(b"OEBPS/odd\xff\xfe.xhtml", chapter_xhtml())]),
        "entry_name_unflagged": build_zip(named + [dataclasses.replace(
            member(b"OEBPS/odd\xff\xfe.xhtml", chapter_xhtml()), flags=0)]),
        "chapter_text": with_files(**{"OEBPS/c1.xhtml": chapter_xhtml(b"<p>a\xff\xfe b \xc3( \xed\xa0\x80 c</p>")}),
        "chapter_raw_garbage": with_files(**{"OEBPS/c1.xhtml": bytes(range(256)) * 8}),
        "nav_text_and_href": with_files(**{"OEBPS/nav.xhtml": nav_xhtml(
            f'<ol><li><a href="c1{bad}.xhtml">O{bad}ne</a></li></ol>')}),
        "container_path": with_files(**{"META-INF/container.xml": container_xml(f"OEBPS/c{bad}.opf")}),
    }


# name -> (href of item "h", its archive entry's name)
HOSTILE_NAMES = {
    "dotdot": ("../../evil.xhtml", b"../../evil.xhtml"), "leading_slash": ("/abs.xhtml", b"/abs.xhtml"),
    "backslash": ("..\\..\\win.xhtml", b"OEBPS/..\\..\\win.xhtml"), "nul": ("nul%00.xhtml", b"OEBPS/nul\x00.xhtml"),
    "mimetype_clash": ("../mimetype", b"mimetype"), "opf_clash": ("content.opf", OPF_PATH.encode()),
    "container_clash": ("../META-INF/container.xml", b"META-INF/container.xml"),
    "nav_clash": ("../EPUB/nav.xhtml", b"EPUB/nav.xhtml"), "empty_href": ("", b"OEBPS"),
    "dot_href": (".", b"OEBPS/."), "only_dotdots": ("../../../..", b""), "escaped": ("c1%2Exhtml", b"OEBPS/c1.xhtml"),
}


# name -> a package document's path in the container, kept as written (never found)
ROOTFILES = {"dotdot": "../OEBPS/content.opf", "slash": "/" + OPF_PATH, "backslash": "OEBPS\\content.opf", "empty": ""}


def hostile_name_books():
    """name -> archive with a manifest item (id "h", in the spine) whose href and archive
    entry carry a dangerous name."""
    books = {}
    for label, (href, entry_name) in HOSTILE_NAMES.items():
        entries = members(with_items([("h", href, "application/xhtml+xml", None)], spine=("c1", "h")))
        if entry_name not in {entry.name for entry in entries}:
            entries.append(member(entry_name, chapter_xhtml("<p>hostile</p>")))
        books[label] = build_zip(entries)
    for label, full_path in ROOTFILES.items():
        books[f"rootfile_{label}"] = with_files(**{"META-INF/container.xml": container_xml(full_path)})
    return books


# --- the read budget, and the archives of every collection ------------------------------

READ_BUDGET_FLOOR = 128 << 20  # what a read of an archive under 2 MiB may keep


def million_level_ncx(levels: int = DEPTH) -> bytes:
    """The small book whose only table of contents is an NCX of `levels` navPoints nested
    in each other, each with its label and target (87 MB for a million): one entry 100
    levels deep survives, and the NCX kept as an item takes most of the read's budget."""
    point = b"<navPoint id='p'><navLabel><text>t</text></navLabel><content src='c1.xhtml'/>"
    ncx = NCX.replace(b"<navMap>", b"<navMap>" + point * levels + b"</navPoint>" * levels)
    return with_files(**{"OEBPS/toc.ncx": ncx, "OEBPS/nav.xhtml": None})


def budget_book(over: int = 0, first: bool = False) -> bytes:
    """The small book plus two entries of zeros whose items, with the book's own, keep
    exactly the read's budget, plus `over` bytes (the second entry, "b2", last in the
    manifest). With `first`, the two are listed first and fill the budget alone: every
    item of the book itself, navigation document and NCX included, is then refused."""
    big = (("b1", "b1.bin", "application/octet-stream", None), ("b2", "b2.bin", "application/octet-stream", None))
    files = book_files()
    files[OPF_PATH] = package_xml(items=big + ITEMS if first else ITEMS + big)
    kept = 0 if first else sum(len(files["OEBPS/" + href]) for _, href, _, _ in ITEMS)
    return epub(files, extra=[zeros_member("OEBPS/b1.bin", MAX_ENTRY_SIZE),
                              zeros_member("OEBPS/b2.bin", READ_BUDGET_FLOOR - MAX_ENTRY_SIZE - kept + over)])


def archives():
    """name -> builder, for every archive this module makes (the large ones built on call)."""
    builders = {"small_deflated": small_book, "small_stored": lambda: small_book(STORED),
                "ncx_million_levels": million_level_ncx, "budget_inside": budget_book,
                "budget_outside": lambda: budget_book(1), "budget_spent_before_toc": lambda: budget_book(first=True),
                "bomb_listed_3_times": lambda: bomb_book(listings=3), "bomb_aliased": lambda: bomb_book(aliases=50),
                "quoted_headers": quoted_headers_book, "many_entries": many_entries_book,
                "empty_entry_before_chapter": empty_entry_before_chapter}
    builders |= {f"bomb_{name}": build for name, (build, _) in BOMBS.items()}
    builders |= {f"deep_{name}": build for name, build in DEEP_AND_WIDE.items()}
    for prefix, collection in (("directory", directory_lie_books), ("entity", entity_books),
                               ("utf8", invalid_utf8_books), ("name", hostile_name_books)):
        builders |= {f"{prefix}_{name}": functools.partial(lambda c, n: c()[n], collection, name)
                     for name in collection()}
    return builders
