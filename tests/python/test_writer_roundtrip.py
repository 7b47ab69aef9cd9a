"""Books written by _write_epub / _write_epub_bytes read back as they were built.

Generated books cover ids, hrefs, media types, bytes, spines, nested tables of contents and
metadata holding odd text. The expectations model only the documented transformations:
characters XML 1.0 forbids are left out of generated documents (and of entry names), XML
parsing turns line ends in element text into line feeds (attribute values carry them as
character references), navigation titles are trimmed of White_Space, a book without a navigation item gains one, and EPUB 3 writing moves
creator attributes into refinements that the reader folds back.
"""
import io
import os
import re
import zipfile

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import _quirelo as q

EXAMPLES = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])

# Unicode White_Space: what the navigation reader trims from titles.
WHITE_SPACE = "\t\n\v\f\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
FORBIDDEN = {chr(c) for c in range(0x20) if chr(c) not in "\t\n\r"} | {"\ufffe", "\uffff"}
RESERVED_NAMES = ("mimetype", "META-INF/container.xml", "EPUB/content.opf")
MODIFIED = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")


def text_value(text):
    """Element text as read back: forbidden characters gone, line ends normalised."""
    text = "".join(ch for ch in text if ch not in FORBIDDEN)
    return text.replace("\r\n", "\n").replace("\r", "\n")


def attribute_value(text):
    """Attribute text as read back: forbidden characters gone, white space kept as written."""
    return "".join(ch for ch in text if ch not in FORBIDDEN)


def nav_title(text):
    return text_value(text).strip(WHITE_SPACE)


def resolve_path(base, href):
    kept = [segment for segment in base.split("/") if segment]
    for segment in href.split("/"):
        if segment in ("", "."):
            continue
        if segment == "..":
            if kept:
                kept.pop()
            continue
        kept.append(segment)
    return "/".join(kept)


def toc_tree(entries):
    return [(entry.title, entry.href, toc_tree(entry.children)) for entry in entries]


def make_toc(tree):
    return [q.TocEntry(title, href, make_toc(children)) for title, href, children in tree]


def nav_round_trip(tree):
    return [(nav_title(title), attribute_value(href), nav_round_trip(children)) for title, href, children in tree]


def ncx_round_trip(tree):
    """An entry without href has no navigation point: its children take its place."""
    out = []
    for title, href, children in tree:
        if href:
            out.append((text_value(title), attribute_value(href), ncx_round_trip(children)))
        else:
            out.extend(ncx_round_trip(children))
    return out


def minimal_book(**extra):
    book = q.EpubBook()
    book.set_identifier("urn:x:1")
    book.set_title("T")
    book.set_language("en")
    book.add_item_raw("c1", "c1.xhtml", "application/xhtml+xml", b"<html/>", 9)
    book._set_spine_from_entries([("c1", True)])
    book._set_toc_from_entries([q.TocEntry("One", "c1.xhtml")])
    return book


# Any text, odd characters made likely: controls, markup characters, White_Space, non-ASCII.
odd_text = st.text(
    alphabet=st.one_of(
        st.sampled_from(list("&<>\"'\x00\x01\x08\x0b\x1f\t\n\r \x7f\x85\xa0\u2028\u3000\ufffe\uffff\ufeffé€漢😀#%")),
        st.characters(exclude_categories=["Cs"]),
    ),
    max_size=12,
)
# Text kept where the reader takes an attribute value back verbatim (no white space controls).
attr_text = st.text(
    alphabet=st.one_of(st.sampled_from(list("&<>\"' é漢😀#%?:;=")),
                       st.characters(exclude_categories=["Cs", "Cc"], exclude_characters="\ufffe\uffff")),
    max_size=10,
)
href_segment = st.one_of(
    st.sampled_from(["", ".", "..", "a", "b", "text", "é", "a b", "%20", "x&y", "it's", "q?x=1", "#f", "nav.xhtml",
                     "a\tb", "\r\n", "\x01", "x\uffff"]),
    st.text(alphabet=st.characters(exclude_categories=["Cs", "Cc"], exclude_characters="/\ufffe\uffff"),
            min_size=1, max_size=6),
)
hrefs = st.lists(href_segment, min_size=1, max_size=4).map("/".join)
media_types = st.one_of(
    st.sampled_from(["application/xhtml+xml", "text/css", "image/png", "image/svg+xml", "font/woff2",
                     "audio/mpeg", "application/octet-stream", "", "x/&<>\"'"]),
    attr_text,
)
contents = st.one_of(st.binary(max_size=300), st.sampled_from([b"", b"\x00" * 5000, bytes(range(256)) * 20]))

toc_trees = st.recursive(
    st.tuples(odd_text, st.one_of(st.just(""), attr_text)).map(lambda pair: (*pair, [])),
    lambda children: st.tuples(odd_text, st.one_of(st.just(""), attr_text), st.lists(children, max_size=3)),
    max_leaves=15,
).map(lambda tree: [tree])
tocs = st.one_of(st.just([]), st.lists(toc_trees, max_size=3).map(lambda groups: [t for g in groups for t in g]))


@st.composite
def items(draw):
    """Unique ids (as read back), none "nav"; no navigation or NCX items: those have their own tests."""
    count = draw(st.integers(1, 6))
    chosen, seen = [], {"nav"}
    for index in range(count):
        item_id = draw(st.one_of(st.just(f"i{index}"), attr_text))
        while item_id in seen:
            item_id = f"i{index}-{len(seen)}-{item_id}"
        seen.add(item_id)
        media_type = draw(media_types.filter(lambda m: m != "application/x-dtbncx+xml"))
        item_type = draw(st.sampled_from([0, 1, 2, 9, 10, 11]))
        properties = draw(st.one_of(st.none(), st.sampled_from(["", "svg", "scripted", "mathml remote-resources"])))
        chosen.append((item_id, draw(hrefs), media_type, draw(contents), item_type, properties))
    return chosen


@st.composite
def metadata(draw):
    """(identifier, title, language, creators, subjects, metas) with odd values."""
    creators = draw(st.lists(
        st.tuples(odd_text, st.one_of(st.none(), odd_text), st.one_of(st.none(), odd_text), st.booleans()),
        max_size=3))
    subjects = draw(st.lists(
        st.tuples(odd_text, st.one_of(st.none(), odd_text), st.one_of(st.none(), odd_text)), max_size=2))
    metas = [(name, draw(odd_text)) for name in ("note", "dcterms:x", "x:prop", "bad name", "")]
    return draw(odd_text), draw(odd_text), draw(odd_text), creators, subjects, metas


def build_book(book_items, spine, toc, meta):
    identifier, title, language, creators, subjects, metas = meta
    book = q.EpubBook()
    book.set_identifier(identifier)
    book.set_title(title)
    book.set_language(language)
    for index, (name, file_as, role, with_uid) in enumerate(creators):
        book.add_author(name, file_as, role, f"u{index}" if with_uid else None)
    for value, lang, scheme in subjects:
        attributes = {"data-x": "dropped in EPUB 3", "bad key": "dropped", "": "dropped"}
        if lang is not None:
            attributes["xml:lang"] = lang
        if scheme is not None:
            attributes["opf:scheme"] = scheme
        book.add_metadata("DC", "subject", value, attributes)
    for name in ("bad name", "", "1st", "x:y"):
        book.add_metadata("DC", name, "dropped")
    book.add_metadata("ELSEWHERE", "x", "not written")
    for name, value in metas:
        book.add_metadata("OPF", name, value)
    for item_id, href, media_type, content, item_type, properties in book_items:
        book.add_item_raw(item_id, href, media_type, content, item_type, properties)
    book._set_spine_from_entries(spine)
    book._set_toc_from_entries(make_toc(toc))
    return book


def expected_metadata(meta):
    """What an EPUB 3 write and a read give back, by (namespace, name)."""
    identifier, title, language, creators, subjects, metas = meta
    generated = 0

    def element_id(own_id, attributes):
        nonlocal generated
        if own_id is not None:
            return own_id
        if any(key in attributes for key in ("opf:role", "opf:file-as", "opf:scheme", "opf:event")):
            generated += 1
            return f"dc-id-{generated}"
        return None

    want = {
        ("DC", "identifier"): [(text_value(identifier), {"id": "BookId"})],
        ("DC", "title"): [(text_value(title), {})],
        ("DC", "language"): [(text_value(language), {})],
        ("DC", "bad name"): [],
        ("DC", ""): [],
        ("DC", "1st"): [],
        ("DC", "x:y"): [],
        ("ELSEWHERE", "x"): [],
    }
    creator_list = []
    for index, (name, file_as, role, with_uid) in enumerate(creators):
        attributes = {}
        if file_as is not None:
            attributes["opf:file-as"] = file_as
        if role is not None:
            attributes["opf:role"] = role
        own = element_id(f"u{index}" if with_uid else None, attributes)
        read = {"id": own} if own is not None else {}
        # Refinements come back as element text, folded into the creator they refine.
        read.update({key: text_value(value) for key, value in attributes.items()})
        creator_list.append((text_value(name), read))
    want[("DC", "creator")] = creator_list
    subject_list, schemes = [], []
    for value, lang, scheme in subjects:
        read = {}
        if lang is not None:
            read["xml:lang"] = attribute_value(lang)
        own = element_id(None, {"opf:scheme": scheme} if scheme is not None else {})
        if own is not None:
            read["id"] = own
            # A scheme refinement is not folded back: it stays a package meta.
            schemes.append((text_value(scheme), {"refines": f"#{own}", "property": "scheme"}))
        subject_list.append((text_value(value), read))
    want[("DC", "subject")] = subject_list
    want[("OPF", "scheme")] = schemes
    for name, value in metas:
        if name in ("", "bad name", "x:prop"):  # x: is neither reserved nor declared
            want[("OPF", name)] = []
        elif ":" in name:
            want[("OPF", name)] = [(text_value(value), {"property": name})]
        else:
            want[("OPF", name)] = [(attribute_value(value), {"name": name, "content": attribute_value(value)})]
    return want


def colliding_name(book_items, add_nav=True):
    taken = set(RESERVED_NAMES) | ({"EPUB/nav.xhtml"} if add_nav else set())
    for _, href, *_ in book_items:
        name = resolve_path("EPUB/", attribute_value(href))
        if name in taken:
            return name
        taken.add(name)
    return None


@EXAMPLES
@given(items(), st.data(), tocs, metadata())
def test_generated_books_round_trip(book_items, data, toc, meta):
    ids = [item[0] for item in book_items]
    spine = data.draw(st.lists(st.tuples(st.one_of(st.sampled_from(ids), attr_text), st.booleans()),
                               min_size=1, max_size=6))
    book = build_book(book_items, spine, toc, meta)
    duplicate = colliding_name(book_items)
    event("refused: duplicate entry name" if duplicate else "written")
    if duplicate is not None:
        with pytest.raises(ValueError) as refused:
            q._write_epub_bytes(book)
        assert str(refused.value) == f"ZIP error: invalid Zip archive: Duplicate filename: {duplicate}"
        return

    archive = q._write_epub_bytes(book)
    back = q._read_epub_bytes(archive)

    got = [(i.get_id(), i.get_name(), i.get_media_type(), i.get_content()) for i in back.get_items()]
    want = [(attribute_value(i), attribute_value(h), attribute_value(m), c) for i, h, m, c, _, _ in book_items]
    assert got[:-1] == want
    assert got[-1][:3] == ("nav", "nav.xhtml", "application/xhtml+xml")
    # A cover stays a cover: the writer announces it when the item has no properties of its own.
    for (_, _, _, _, item_type, properties), item in zip(book_items, back.get_items()):
        if item_type == 10 and properties is None:
            assert item.get_type() == 10

    assert back.get_spine() == [(attribute_value(idref), linear) for idref, linear in spine]
    assert toc_tree(back.toc) == nav_round_trip(toc)

    for (namespace, name), values in expected_metadata(meta).items():
        assert back.get_metadata(namespace, name) == values, (namespace, name)
    [(modified, attributes)] = back.get_metadata("OPF", "dcterms:modified")
    assert MODIFIED.fullmatch(modified) and attributes == {"property": "dcterms:modified"}


def epub2_archive():
    """An EPUB 2 book whose NCX item is listed but absent, so it reads with empty content."""
    opf = (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<package xmlns="http://www.idpf.org/2007/opf" version="2.0" unique-identifier="uid">'
        '<metadata xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:identifier id="uid">urn:x:2</dc:identifier>'
        '<dc:title>Two</dc:title><dc:language>en</dc:language></metadata>'
        '<manifest><item id="ncx" href="toc.ncx" media-type="application/x-dtbncx+xml"/>'
        '<item id="c1" href="c1.xhtml" media-type="application/xhtml+xml"/></manifest>'
        '<spine toc="ncx"><itemref idref="c1"/></spine></package>'
    )
    container = (
        '<?xml version="1.0"?><container xmlns="urn:oasis:names:tc:opendocument:xmlns:container" version="1.0">'
        '<rootfiles><rootfile full-path="OPS/content.opf" media-type="application/oebps-package+xml"/>'
        '</rootfiles></container>'
    )
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr("mimetype", "application/epub+zip")
        archive.writestr("META-INF/container.xml", container)
        archive.writestr("OPS/content.opf", opf)
        archive.writestr("OPS/c1.xhtml", "<html/>")
    return buffer.getvalue()


@EXAMPLES
@given(tocs, odd_text, st.lists(st.tuples(odd_text, st.sampled_from(["data-x", "opf:role", "xml:lang"]), attr_text),
                                max_size=3))
def test_epub2_books_round_trip_through_the_generated_ncx(toc, title, subjects):
    book = q._read_epub_bytes(epub2_archive())
    assert book.get_items()[0].get_content() == b""
    book.set_title(title)
    for value, key, attribute in subjects:
        book.add_metadata("DC", "subject", value, {key: attribute, "bad key": "dropped"})
    book._set_toc_from_entries(make_toc(toc))

    archive = q._write_epub_bytes(book)
    names = zipfile.ZipFile(io.BytesIO(archive)).namelist()
    assert "EPUB/nav.xhtml" not in names and "EPUB/toc.ncx" in names
    back = q._read_epub_bytes(archive)

    assert [i.get_id() for i in back.get_items()] == ["ncx", "c1"]
    assert toc_tree(back.toc) == ncx_round_trip(toc)
    assert back.get_metadata("DC", "title") == [(text_value(title), {})]
    # EPUB 2 keeps every safe attribute inline; no refinements and no modification time.
    assert back.get_metadata("DC", "subject") == [(text_value(v), {k: attribute_value(a)}) for v, k, a in subjects]
    assert back.get_metadata("OPF", "dcterms:modified") == []


@pytest.mark.parametrize("reader, depth", [("nav", 150), ("ncx", 150), ("nav", 100), ("nav", 3000)])
def test_deep_tables_of_contents_are_cut_at_one_hundred_levels(reader, depth):
    chain = []
    for level in reversed(range(depth)):
        chain = [q.TocEntry(f"L{level}", f"l{level}.xhtml", chain)]
    book = q._read_epub_bytes(epub2_archive()) if reader == "ncx" else minimal_book()
    book._set_toc_from_entries(chain)
    back = q._read_epub_bytes(q._write_epub_bytes(book))
    levels, entries = 0, back.toc
    while entries:
        assert len(entries) == 1 and entries[0].title == f"L{levels}"
        levels, entries = levels + 1, entries[0].children
    assert levels == min(depth, 100)


@pytest.mark.parametrize("content, toc_source", [(b"", "generated"), (None, "own")])
def test_navigation_item_of_the_book(content, toc_source):
    own_nav = (b'<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops"><body>'
               b'<nav epub:type="toc"><ol><li><a href="own.xhtml">Own</a></li></ol></nav></body></html>')
    book = minimal_book()
    book.add_item_raw("toc", "toc.xhtml", "application/xhtml+xml", own_nav if content is None else content, 4)
    archive = q._write_epub_bytes(book)
    names = zipfile.ZipFile(io.BytesIO(archive)).namelist()
    assert "EPUB/nav.xhtml" not in names and "EPUB/toc.xhtml" in names
    back = q._read_epub_bytes(archive)
    assert [i.get_id() for i in back.get_items()] == ["c1", "toc"]
    want = [("One", "c1.xhtml", [])] if toc_source == "generated" else [("Own", "own.xhtml", [])]
    assert toc_tree(back.toc) == want
    if content is None:
        assert back.get_item_with_id("toc").get_content() == own_nav


def test_lazily_read_book_writes_like_an_eager_one():
    first = q._write_epub_bytes(minimal_book())
    eager = q._read_epub_bytes(first)
    lazy = q._read_epub_bytes(first, lazy=True)
    for book in (eager, lazy):
        book.add_metadata("OPF", "dcterms:modified", "2020-01-01T00:00:00Z")
    assert q._write_epub_bytes(lazy) == q._write_epub_bytes(eager)


# Writing to a file ---------------------------------------------------------------------------


def entries_without_modified_time(archive):
    with zipfile.ZipFile(io.BytesIO(archive)) as opened:
        entries = [(i.filename, i.compress_type, i.date_time, opened.read(i)) for i in opened.infolist()]
    return [(name, method, date, re.sub(rb"(dcterms:modified\">)[^<]*", rb"\1", data) if name == "EPUB/content.opf" else data)
            for name, method, date, data in entries]


def test_file_and_bytes_give_the_same_archive(tmp_path):
    book = build_book([("a", "a.xhtml", "application/xhtml+xml", b"<html/>" * 100, 9, None),
                       ("b", "img/b.png", "image/png", bytes(range(256)), 1, None)],
                      [("a", True), ("b", False)], [("A", "a.xhtml", [("B", "img/b.png", [])])],
                      ("id", "Title & co", "en", [("Ann", "A.", "aut", False)], [], [("note", "n")]))
    path = tmp_path / "book.epub"
    q._write_epub(str(path), book)
    in_memory = q._write_epub_bytes(book)
    # The two writes may straddle a second; only the modification time may differ.
    assert entries_without_modified_time(path.read_bytes()) == entries_without_modified_time(in_memory)

    # With its own modification time the book gives byte-identical archives.
    book.add_metadata("OPF", "dcterms:modified", "2020-01-01T00:00:00Z")
    q._write_epub(str(path), book)
    assert path.read_bytes() == q._write_epub_bytes(book)


def refused_books():
    def without(name):
        def make():
            book = q.EpubBook()
            for field in ("identifier", "title", "language"):
                if field != name:
                    getattr(book, f"set_{field}")("x")
            book.add_item_raw("c1", "c1.xhtml", "application/xhtml+xml", b"<html/>", 9)
            book._set_spine_from_entries([("c1", True)])
            return book
        return make

    def empty_spine():
        book = minimal_book()
        book._set_spine_from_entries([])
        return book

    def clashing(href, item_type=0, media_type="text/plain"):
        def make():
            book = minimal_book()
            book.add_item_raw("x", href, media_type, b"late", item_type)
            return book
        return make

    return [
        pytest.param(without("identifier"), "Book must have an identifier set", id="identifier"),
        pytest.param(without("title"), "Book must have a title set", id="title"),
        pytest.param(without("language"), "Book must have a language set", id="language"),
        pytest.param(empty_spine, "Book must have at least one spine entry", id="spine"),
        pytest.param(clashing("./c1.xhtml"), "Duplicate filename: EPUB/c1.xhtml", id="same-entry"),
        pytest.param(clashing("../mimetype"), "Duplicate filename: mimetype", id="mimetype"),
        pytest.param(clashing("../META-INF/container.xml"), "Duplicate filename: META-INF/container.xml", id="container"),
        pytest.param(clashing("content.opf"), "Duplicate filename: EPUB/content.opf", id="package"),
        pytest.param(clashing("/nav.xhtml"), "Duplicate filename: EPUB/nav.xhtml", id="added-nav"),
    ]


@pytest.mark.parametrize("make, message", refused_books())
@pytest.mark.parametrize("existing", [True, False])
def test_refused_writes_leave_files_alone(tmp_path, make, message, existing):
    path = tmp_path / "book.epub"
    if existing:
        path.write_bytes(b"precious")
        before = os.stat(path)
    with pytest.raises(ValueError) as refused:
        q._write_epub(str(path), make())
    assert str(refused.value).endswith(message)
    with pytest.raises(ValueError) as refused_bytes:
        q._write_epub_bytes(make())
    assert str(refused_bytes.value) == str(refused.value)
    if existing:
        assert path.read_bytes() == b"precious"
        assert os.stat(path).st_mtime_ns == before.st_mtime_ns
    else:
        assert not path.exists()
    assert os.listdir(tmp_path) == (["book.epub"] if existing else [])


def test_a_book_with_its_own_nav_item_may_use_the_name_nav_xhtml():
    book = minimal_book()
    book.add_item_raw("nav", "nav.xhtml", "application/xhtml+xml", b"", 4)
    back = q._read_epub_bytes(q._write_epub_bytes(book))
    assert [i.get_name() for i in back.get_items()] == ["c1.xhtml", "nav.xhtml"]
    assert toc_tree(back.toc) == [("One", "c1.xhtml", [])]
