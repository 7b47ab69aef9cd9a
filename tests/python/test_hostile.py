"""Hostile books: every read gives a book or a described ValueError, and whatever was read
can then be written, validated, turned into text and Markdown without any other failure."""
import io
import os
import zipfile

import pytest

import _quirelo
import hostile_books as hb
from conftest import CORPUS, corpus_books

MODES = ("eager", "lazy")


def toc_depth(entries):
    depth, level = 0, list(entries)
    while level:
        depth += 1
        level = [child for entry in level for child in entry.children]
    return depth


def exercise(book, read_back=True):
    """Everything a caller may do with a book read from anything. Returns the book read
    back from what was written (or True without read_back), or None when writing refused
    the book."""
    repr(book), book.validate(), book.get_spine(), toc_depth(book.toc), book.to_markdown()
    for name in ("identifier", "title", "language", "creator"):
        book.get_metadata("DC", name)
    for item in book.get_items():
        repr(item), item.get_content(), item.get_text(), book.get_item_with_href(item.get_name())
        assert book.get_item_with_id(item.get_id()) is not None
    try:
        written = _quirelo._write_epub_bytes(book)
    except ValueError as error:
        assert str(error).startswith(hb.WRITE_ERRORS), str(error)
        return None
    # A sound ZIP with safe names, which reads back.
    archive = zipfile.ZipFile(io.BytesIO(written))
    assert archive.testzip() is None and archive.namelist()[0] == "mimetype"
    for name in archive.namelist():
        assert not name.startswith("/") and ".." not in name.split("/") and "\0" not in name, name
    if not read_back:
        return True
    again = _quirelo._read_epub_bytes(written)
    # Nothing kept is lost on the way: every item with bytes comes back with them.
    for item in book.get_items():
        if item.get_content():
            assert content(again, item.get_id()) == item.get_content(), item
    return again


def outcome(data, mode, read_back=True):
    """The book, read and exercised, or the message of a described read error (anything else
    propagates), for case-specific checks."""
    try:
        book = _quirelo._read_epub_bytes(data, lazy=mode == "lazy")
    except ValueError as error:
        assert str(error).startswith(hb.READ_ERRORS), str(error)
        return str(error)
    exercise(book, read_back)
    return book


def content(book, item_id):
    return book.get_item_with_id(item_id).get_content()


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


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("name", sorted(DAMAGE))
def test_damage(name, mode):
    method, damage, expected = DAMAGE[name]
    result = outcome(damage(hb.small_book(method)), mode)
    if isinstance(expected, str):
        assert result.startswith(expected), result
    else:
        assert content(result, "c1") == expected


# --- lying headers --------------------------------------------------------------------

CHAPTER = hb.chapter_xhtml()
# Lies the C++ table of item entries lacks. name -> (lies, what the chapter's content may
# be: the truth, or empty when the entry is unusable)
LYING = {
    "stored_size_larger": ({"method": hb.STORED, "size": len(CHAPTER) + 1}, {CHAPTER}),
    "deflated_size_larger": ({"size": len(CHAPTER) + 1}, {CHAPTER, b""}),
    "deflated_size_zero": ({"size": 0}, {b""}),
    "stored_size_max_u32": ({"method": hb.STORED, "size": 0xFFFFFFFF}, {b""}),
    "stored_comp_larger": ({"method": hb.STORED, "comp_size": lambda e: len(e.payload) + 40}, {CHAPTER, b""}),
    "deflated_comp_smaller": ({"comp_size": lambda e: len(e.payload) - 1}, {b""}),
    "deflated_comp_beyond_archive": ({"comp_size": 0x7FFFFFFF}, {b""}),
}


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("name", sorted(LYING))
def test_lying_sizes(name, mode, capfd):
    lies, contents = LYING[name]
    assert content(outcome(hb.lying_book(**lies), mode), "c1") in contents
    assert ("skipping oversized item 'OEBPS/c1.xhtml' (4294967295 bytes)\n" in capfd.readouterr().err) == (
        mode == "lazy" and "max_u32" in name)


def test_oversized_package_document():
    result = outcome(hb.lying_book(hb.OPF_PATH, size=hb.MAX_ENTRY_SIZE + 1), "eager")
    assert result == "OPF file not found in archive: OEBPS/content.opf"


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("name", sorted(hb.BOMBS))
def test_deflate_bombs(name, mode):
    build, lengths = hb.BOMBS[name]
    big = content(outcome(build(), mode), "big")
    assert len(big) in lengths and big == bytes(len(big))


DIRECTORY_LIES = hb.directory_lie_books()


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("name", sorted(DIRECTORY_LIES))
def test_directory_lies(name, mode):
    result = outcome(DIRECTORY_LIES[name], mode)
    if name in ("zip64_honest", "local_name_differs"):
        assert content(result, "c1") == CHAPTER
    elif name.startswith(("method_", "encrypted")) and not isinstance(result, str):
        assert content(result, "c1") == b""


@pytest.mark.parametrize("mode", MODES)
def test_entry_right_after_another_is_not_overlapping(mode):
    # An empty entry with an empty name ends exactly where the chapter's header begins.
    entries = hb.members(hb.book_files())
    chapter = next(i for i, entry in enumerate(entries) if entry.name == b"OEBPS/c1.xhtml")
    entries.insert(chapter, hb.member(b"", b"", hb.STORED))
    assert content(outcome(hb.build_zip(entries), mode), "c1") == CHAPTER


@pytest.mark.parametrize("mode", MODES)
def test_hundred_thousand_entries(mode):
    # Lazy loads share one archive index per book: an index per load would take minutes.
    listed = 5000
    book = outcome(hb.many_entries_book(100_000, listed), mode)
    assert len(book.get_items()) == len(hb.ITEMS) + listed
    assert content(book, f"f{listed - 1}") == b""


# --- XML: depth, width, entities, encodings -------------------------------------------

def title_attributes(book):
    return book.get_metadata("DC", "title")[0][1]


DEEP_AND_WIDE_CHECKS = {
    "opf_deep_metadata": lambda book: book.get_metadata("DC", "title")[0][0] == "Small",
    "opf_deep_unclosed": lambda message: message.startswith("Invalid OPF: "),
    "container_deep_before_rootfile": lambda book: content(book, "c1") == CHAPTER,
    "nav_deep_list": lambda book: toc_depth(book.toc) == 100,
    "ncx_deep_points": lambda book: toc_depth(book.toc) == 100,
    "chapter_deep": lambda book: book.get_item_with_id("c1").get_text() == "Onexy" and "x" in book.to_markdown(),
    "chapter_deep_unclosed": lambda book: book.get_item_with_id("c1").get_text() == "Onex",
    "title_million_attributes": lambda book: len(title_attributes(book)) == hb.ATTRIBUTES
    and title_attributes(book)[f"a{hb.ATTRIBUTES - 1}"] == "v",
    # The later of two attributes with one key replaces the earlier.
    "title_colliding_attributes": lambda book: title_attributes(book) == {"ns:k": str(hb.COLLIDING - 1)},
    "nav_link_million_attributes": lambda book: [entry.title for entry in book.toc] == ["One"],
    "duplicate_attribute": lambda message: message.startswith("Invalid OPF: "),
}


@pytest.mark.parametrize("name", sorted(hb.DEEP_AND_WIDE))
def test_deep_and_wide(name):
    # Eager only: a lazy read parses the same package and navigation documents. Reading
    # the written book back would parse the same giant documents again.
    result = outcome(hb.DEEP_AND_WIDE[name](), "eager", read_back=False)
    assert DEEP_AND_WIDE_CHECKS[name](result), result if isinstance(result, str) else name


ENTITIES = hb.entity_books()


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("name", sorted(ENTITIES))
def test_entities_and_references(name, mode):
    result = outcome(ENTITIES[name], mode)
    if name.startswith("opf_title_"):
        assert result.startswith("Invalid OPF: ")
    elif name == "opf_good_references":
        assert result.get_metadata("DC", "title")[0][0] == "\U0001F600A<&\""
    else:
        # A refused navigation document falls back to the NCX; chapters are never expanded.
        assert [entry.title for entry in result.toc] == ["One"]
        assert len(result.get_item_with_id("c1").get_text()) < 20_000
        assert "lollol" not in result.to_markdown()


INVALID_UTF8 = hb.invalid_utf8_books()


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("name", sorted(INVALID_UTF8))
def test_invalid_utf8(name, mode):
    result = outcome(INVALID_UTF8[name], mode)
    if name == "title_text":
        assert result.get_metadata("DC", "title")[0][0] == "S\ufffd\ufffdm\ufffd("
    elif name == "id_href_type":
        item = result.get_item_with_id("id\ufffd\ufffd")
        assert (item.get_name(), item.get_media_type()) == ("odd\ufffd\ufffd.xhtml", "application/xhtml+xml\ufffd\ufffd")
    elif name == "chapter_text":
        assert "\ufffd" in result.get_item_with_id("c1").get_text()
    elif name == "container_path":
        assert result == "OPF file not found in archive: OEBPS/c\ufffd\ufffd.opf"


HOSTILE_NAMES = hb.hostile_name_books()


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("name", sorted(HOSTILE_NAMES))
def test_hostile_names(name, mode):
    # exercise() checks that nothing written climbs out of the archive root.
    result = outcome(HOSTILE_NAMES[name], mode)
    if name.startswith("rootfile_"):
        assert result.startswith("OPF file not found in archive: ")
    elif name in ("dotdot", "leading_slash", "nul"):
        # Resolution keeps these inside the package folder, where no such entry is.
        assert content(result, "h") == b""


# --- eager and lazy reads give the same book ------------------------------------------

DC_NAMES = ("identifier", "title", "language", "creator", "contributor", "publisher", "subject", "description",
            "date", "type", "format", "source", "relation", "coverage", "rights")
OPF_NAMES = ("cover", "dcterms:modified", "belongs-to-collection", "file-as", "role")


def toc_tree(entries):
    return [(entry.title, entry.href, toc_tree(entry.children)) for entry in entries]


def snapshot(book):
    """Everything a read gives, lazy items loaded in item order (the order an eager read keeps them)."""
    items = [(item.get_id(), item.get_name(), item.get_media_type(), item.get_type(), item.get_content())
             for item in book.get_items()]
    metadata = [book.get_metadata(space, name) for space, names in (("DC", DC_NAMES), ("OPF", OPF_NAMES))
                for name in names]
    return {"items": items, "toc": toc_tree(book.toc), "spine": book.get_spine(), "metadata": metadata}


def read_three_ways(path, capfd):
    """(snapshot or error message, budget warnings) of an eager read from the path, a lazy
    one from the path and a lazy one from the bytes."""
    data = open(path, "rb").read()
    reads = {"eager path": lambda: _quirelo._read_epub(path), "lazy path": lambda: _quirelo._read_epub(path, lazy=True),
             "lazy bytes": lambda: _quirelo._read_epub_bytes(data, lazy=True)}
    results = {}
    for way, read in reads.items():
        capfd.readouterr()
        try:
            result = snapshot(read())
        except ValueError as error:
            result = str(error)
        results[way] = result, [line for line in capfd.readouterr().err.splitlines() if "read budget" in line]
    return results


def kept(book, item_id):
    return next(content for id_, _, _, _, content in book["items"] if id_ == item_id)


# What some archives must read to, besides reading the same both ways.
SAME_BOOK_CHECKS = {
    "ncx_million_levels": lambda book: toc_depth_of(book["toc"]) == 100 and len(kept(book, "ncx")) > 80_000_000,
    "budget_inside": lambda book: all(content for _, _, _, _, content in book["items"]),
    "budget_outside": lambda book: kept(book, "b2") == b"" and len(kept(book, "b1")) == hb.MAX_ENTRY_SIZE,
    # The table of contents is parsed from the navigation document the budget refused to keep.
    "budget_spent_before_toc": lambda book: kept(book, "nav") == b"" and book["toc"] == [("One", "c1.xhtml", [])],
}
BUDGET_WARNINGS = {"budget_outside": 1, "budget_spent_before_toc": 4, "bomb_listed_3_times": 2}


def toc_depth_of(tree):
    return 1 + max(map(toc_depth_of, (children for _, _, children in tree)), default=0) if tree else 0


ARCHIVES = hb.archives() | {
    **{f"damage_{name}": lambda method=method, damage=damage: damage(hb.small_book(method))
       for name, (method, damage, _) in DAMAGE.items()},
    **{f"lying_{name}": lambda lies=lies: hb.lying_book(**lies) for name, (lies, _) in LYING.items()}}
CORPUS_BOOKS = corpus_books()


@pytest.mark.parametrize("name", sorted(ARCHIVES) + [f"corpus/{os.path.basename(p)}" for p in CORPUS_BOOKS]
                         + ([] if CORPUS_BOOKS else ["corpus/"]))
def test_eager_and_lazy_reads_give_the_same_book(name, tmp_path, capfd):
    if name == "corpus/":
        pytest.skip(f"no corpus at {CORPUS}")
    if name.startswith("corpus/"):
        path = os.path.join(CORPUS, name.removeprefix("corpus/"))
    else:
        path = str(tmp_path / "book.epub")
        with open(path, "wb") as handle:
            handle.write(ARCHIVES[name]())
    results = read_three_ways(path, capfd)
    eager, warnings = results.pop("eager path")
    for way, (result, lazy_warnings) in results.items():
        assert result == eager, f"{way} differs from the eager read"
        assert lazy_warnings == warnings, way
    assert len(warnings) == BUDGET_WARNINGS.get(name, 0), warnings
    if name in SAME_BOOK_CHECKS:
        assert SAME_BOOK_CHECKS[name](eager)
