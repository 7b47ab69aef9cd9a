"""Hostile books: every read (eager from the path, lazy from the path or the bytes) gives the
same book or the same described ValueError, and whatever was read can then be written,
validated, turned into text and Markdown without any other failure."""
import io
import os
import zipfile

import pytest

import _quirelo
import hostile_books as hb
from conftest import CORPUS, corpus_books, toc_shape


def toc_depth(tree):
    """The depth of a toc_shape tree."""
    return max((1 + toc_depth(children) for _, _, children in tree), default=0)


def exercise(book, read_back=True):
    """Everything a caller may do with a book read from anything."""
    repr(book), book.validate(), book.get_spine(), toc_shape(book.toc), book.to_markdown()
    for name in ("identifier", "title", "language", "creator"):
        book.get_metadata("DC", name)
    for item in book.get_items():
        repr(item), item.get_content(), item.get_text(), book.get_item_with_href(item.get_name())
        assert book.get_item_with_id(item.get_id()) is not None
    try:
        written = _quirelo._write_epub_bytes(book)
    except ValueError as error:
        assert str(error).startswith(hb.WRITE_ERRORS), str(error)
        return
    # A sound ZIP with safe names, which reads back.
    archive = zipfile.ZipFile(io.BytesIO(written))
    assert archive.testzip() is None and archive.namelist()[0] == "mimetype"
    for name in archive.namelist():
        assert not name.startswith("/") and ".." not in name.split("/") and "\0" not in name, name
    if read_back:
        again = _quirelo._read_epub_bytes(written)
        # Nothing kept is lost on the way: every item with bytes comes back with them.
        for item in book.get_items():
            if item.get_content():
                assert content(again, item.get_id()) == item.get_content(), item


def content(book, item_id):
    return book.get_item_with_id(item_id).get_content()


def chapter_in(*contents):
    return lambda book: content(book, "c1") in contents


def error_starts(prefix):
    return lambda message: message.startswith(prefix)


# --- the small valid book, and damage at named places ---------------------------------
# Byte-by-byte sweeps of the same damage run as fuzzing from fuzz/seeds/read_bytes.

def flipped(data, at, mask=0xFF):
    return data[:at] + bytes([data[at] ^ mask]) + data[at + 1:]


def opf_payload_middle(data):
    start = data.index(hb.OPF_PATH.encode())
    return (start + data.index(b"PK\x03\x04", start)) // 2


# name -> (method, damage, outcome: a read error's start, or the chapter's content)
DAMAGE = {
    "none": (hb.DEFLATED, lambda d: d, hb.chapter_xhtml()),  # the small book all damage starts from
    "cut_in_central_directory": (hb.DEFLATED, lambda d: d[:d.index(b"PK\x01\x02") + 20], "ZIP error: "),
    "cut_in_local_data": (hb.STORED, lambda d: d[:len(d) // 2], "ZIP error: "),
    "end_record_signature": (hb.DEFLATED, lambda d: flipped(d, d.rindex(b"PK\x05\x06")), "ZIP error: "),
    "central_signature": (hb.DEFLATED, lambda d: flipped(d, d.index(b"PK\x01\x02")), "ZIP error: "),
    "container_name": (hb.DEFLATED, lambda d: flipped(d, d.rindex(b"META-INF/container.xml"), 0x20),
                       "Missing META-INF/container.xml"),
    "container_name_invalid_utf8": (hb.DEFLATED, lambda d: flipped(d, d.rindex(b"META-INF/container.xml")),
                                    "ZIP error: Zip archive inconsistent: entry 1: invalid UTF-8 in filename"),
    "opf_deflate_data": (hb.DEFLATED, lambda d: flipped(d, opf_payload_middle(d)), "OPF file not found"),
    "stored_chapter_text": (hb.STORED, lambda d: flipped(d, d.index(b"Hello")), b""),
    "chapter_local_header": (hb.DEFLATED, lambda d: flipped(d, d.index(b"OEBPS/c1.xhtml") - 30), b""),
    "stored_mimetype_text": (hb.STORED, lambda d: flipped(d, d.index(b"epub+zip")), hb.chapter_xhtml()),
}


CHAPTER = hb.chapter_xhtml()
# name -> (lies, what the chapter's content may be: the truth, or empty when the entry is unusable)
LYING = {
    "stored_size_larger": ({"method": hb.STORED, "size": len(CHAPTER) + 1}, {CHAPTER}),
    "stored_size_smaller": ({"method": hb.STORED, "size": len(CHAPTER) - 1}, {b""}),
    "deflated_size_larger": ({"size": len(CHAPTER) + 1}, {CHAPTER, b""}),
    "deflated_size_zero": ({"size": 0}, {b""}),
    "stored_size_max_u32": ({"method": hb.STORED, "size": 0xFFFFFFFF}, {b""}),
    "stored_comp_larger": ({"method": hb.STORED, "comp_size": lambda e: len(e.payload) + 40}, {CHAPTER, b""}),
    "deflated_comp_smaller": ({"comp_size": lambda e: len(e.payload) - 1}, {b""}),
    "deflated_comp_beyond_archive": ({"comp_size": 0x7FFFFFFF}, {b""}),
}
# Only a lazy load meets the lie, when it loads the item.
OVERSIZED = "Warning: skipping oversized item 'OEBPS/c1.xhtml' (4294967295 bytes)\n"


def title(book):
    return book.get_metadata("DC", "title")[0]


# What an archive must read to (the eager book, exercised, or the read error's message),
# besides reading the same every way.
CHECKS = {
    **{f"damage_{name}": error_starts(expected) if isinstance(expected, str) else chapter_in(expected)
       for name, (_, _, expected) in DAMAGE.items()},
    **{f"lying_{name}": chapter_in(*contents) for name, (_, contents) in LYING.items()},
    "opf_oversized": lambda message: message == "OPF file not found in archive: OEBPS/content.opf",
    **{f"bomb_{name}": lambda book, lengths=lengths: len(content(book, "z0")) in lengths
       and content(book, "z0") == bytes(len(content(book, "z0"))) for name, (_, lengths) in hb.BOMBS.items()},
    "directory_zip64_honest": chapter_in(CHAPTER), "directory_local_name_differs": chapter_in(CHAPTER),
    **{f"directory_{name}": chapter_in(b"")
       for name in hb.directory_lie_books() if name.startswith(("method_", "encrypted"))},
    "directory_method_99": error_starts("ZIP error: "),  # needs an extra field the entry lacks
    "empty_entry_before_chapter": chapter_in(CHAPTER),
    # Whole items up to the budget, then empty ones; entries sharing their bytes with another
    # are damaged: every one is empty.
    "bomb_listed_3_times": lambda book: sorted(len(content(book, f"z{n}")) for n in range(3)) == [
        0, 0, hb.MAX_ENTRY_SIZE],
    **{name: lambda book: not any(item.get_content() for item in book.get_items() if item.get_id()[0] in "aqz")
       for name in ("bomb_aliased", "quoted_headers")},
    "ncx_million_levels": lambda book: toc_depth(toc_shape(book.toc)) == 100 and len(content(book, "ncx")) > 80_000_000,
    "budget_inside": lambda book: all(item.get_content() for item in book.get_items()),
    "budget_outside": lambda book: content(book, "b2") == b"" and len(content(book, "b1")) == hb.MAX_ENTRY_SIZE,
    # The table of contents is parsed from the navigation document the budget refused to keep.
    "budget_spent_before_toc": lambda book: content(book, "nav") == b"" and toc_shape(book.toc) == [
        ("One", "c1.xhtml", [])],
    "many_entries": lambda book: len(book.get_items()) == len(hb.ITEMS) + 5000 and content(book, "f4999") == b"",
    "deep_opf_deep_metadata": lambda book: title(book)[0] == "Small",
    "deep_opf_deep_unclosed": error_starts("Invalid OPF: "),
    "deep_container_deep_before_rootfile": chapter_in(CHAPTER),
    "deep_nav_deep_list": lambda book: toc_depth(toc_shape(book.toc)) == 100,
    "deep_ncx_deep_points": lambda book: toc_depth(toc_shape(book.toc)) == 100,
    "deep_chapter_deep": lambda book: book.get_item_with_id("c1").get_text() == "Onexy" and "x" in book.to_markdown(),
    "deep_chapter_deep_unclosed": lambda book: book.get_item_with_id("c1").get_text() == "Onex",
    "deep_title_million_attributes": lambda book: len(title(book)[1]) == hb.ATTRIBUTES
    and title(book)[1][f"a{hb.ATTRIBUTES - 1}"] == "v",
    # The later of two attributes with one key replaces the earlier.
    "deep_title_colliding_attributes": lambda book: title(book)[1] == {"ns:k": str(hb.COLLIDING - 1)},
    "deep_nav_link_million_attributes": lambda book: [entry.title for entry in book.toc] == ["One"],
    "deep_duplicate_attribute": error_starts("Invalid OPF: "),
    "entity_opf_title_reference": error_starts("Invalid OPF: "),
    "entity_opf_good_references": lambda book: title(book)[0] == "\U0001F600A<&\"",
    # A refused navigation document falls back to the NCX; chapters are never expanded.
    **{f"entity_{name}": lambda book: [entry.title for entry in book.toc] == ["One"]
       and len(book.get_item_with_id("c1").get_text()) < 20_000 and "lollol" not in book.to_markdown()
       for name in ("nav_billion_laughs", "chapter_billion_laughs", "chapter_references", "opf_declares_utf16",
                    "nav_title_reference")},
    "utf8_title_text": lambda book: title(book)[0] == "S\ufffd\ufffdm\ufffd(",
    "utf8_id_href_type": lambda book: (book.get_item_with_id("id\ufffd\ufffd").get_name(),
                                       book.get_item_with_id("id\ufffd\ufffd").get_media_type())
    == ("odd\ufffd\ufffd.xhtml", "application/xhtml+xml\ufffd\ufffd"),
    "utf8_chapter_text": lambda book: "\ufffd" in book.get_item_with_id("c1").get_text(),
    "utf8_container_path": lambda message: message == "OPF file not found in archive: OEBPS/c\ufffd\ufffd.opf",
    # exercise() checks that nothing written climbs out of the archive root; resolution keeps
    # these inside the package folder, where no such entry is, and leaves escapes undecoded.
    **{f"name_{name}": lambda book: content(book, "h") == b""
       for name in ("dotdot", "leading_slash", "nul", "escaped")},
    **{f"name_rootfile_{name}": lambda message, path=path: message == "OPF file not found in archive: " + path
       for name, path in hb.ROOTFILES.items()},
}
BUDGET_WARNINGS = {"budget_outside": 1, "budget_spent_before_toc": 4, "bomb_listed_3_times": 2}


DC_NAMES = ("identifier", "title", "language", "creator", "contributor", "publisher", "subject", "description",
            "date", "type", "format", "source", "relation", "coverage", "rights")
OPF_NAMES = ("cover", "dcterms:modified", "belongs-to-collection", "file-as", "role")


def snapshot(book):
    """Everything a read gives, lazy items loaded in item order (the order an eager read keeps them)."""
    items = [(item.get_id(), item.get_name(), item.get_media_type(), item.get_type(), item.get_content())
             for item in book.get_items()]
    metadata = [book.get_metadata(space, name) for space, names in (("DC", DC_NAMES), ("OPF", OPF_NAMES))
                for name in names]
    return {"items": items, "toc": toc_shape(book.toc), "spine": book.get_spine(), "metadata": metadata}


ARCHIVES = hb.archives() | {
    **{f"damage_{name}": lambda method=method, damage=damage: damage(hb.small_book(method))
       for name, (method, damage, _) in DAMAGE.items()},
    **{f"lying_{name}": lambda lies=lies: hb.lying_book(**lies) for name, (lies, _) in LYING.items()},
    "opf_oversized": lambda: hb.lying_book(hb.OPF_PATH, size=hb.MAX_ENTRY_SIZE + 1)}


CORPUS_BOOKS = corpus_books()


@pytest.mark.parametrize("name", sorted(ARCHIVES) + [f"corpus/{os.path.basename(p)}" for p in CORPUS_BOOKS]
                         + ([] if CORPUS_BOOKS else ["corpus/"]))
def test_every_read_gives_the_same_book(name, tmp_path, capfd):
    if name == "corpus/":
        pytest.skip(f"no corpus at {CORPUS}")
    if name in ARCHIVES:
        path, data = str(tmp_path / "book.epub"), ARCHIVES[name]()
        with open(path, "wb") as handle:
            handle.write(data)
    else:
        path = os.path.join(CORPUS, name.removeprefix("corpus/"))
        with open(path, "rb") as handle:
            data = handle.read()
    reads = {"eager path": lambda: _quirelo._read_epub(path), "lazy path": lambda: _quirelo._read_epub(path, lazy=True),
             "lazy bytes": lambda: _quirelo._read_epub_bytes(data, lazy=True)}
    results = {}  # way -> (snapshot or read error message, stderr of the read and its loads)
    for way, read in reads.items():
        capfd.readouterr()
        try:
            book = read()
        except ValueError as error:
            assert str(error).startswith(hb.READ_ERRORS), str(error)
            book = str(error)
            results[way] = book, capfd.readouterr().err
        else:
            results[way] = snapshot(book), capfd.readouterr().err
            # Reading the written book back would parse the same giant documents again.
            exercise(book, read_back=not name.startswith("deep_"))
        if way == "eager path" and name in CHECKS:
            assert CHECKS[name](book), book if isinstance(book, str) else name
    assert [way for way, (_, err) in results.items() if OVERSIZED in err] == (
        ["lazy path", "lazy bytes"] if name == "lying_stored_size_max_u32" else [])
    budget = {way: [line for line in err.splitlines() if "read budget" in line] for way, (_, err) in results.items()}
    eager, _ = results.pop("eager path")
    for way, (result, _) in results.items():
        assert result == eager, f"{way} differs from the eager read"
        assert budget[way] == budget["eager path"], way
    assert len(budget["eager path"]) == BUDGET_WARNINGS.get(name, 0), budget
    assert all("the book has used its read budget of 134217728 bytes" in line for line in budget["eager path"])
