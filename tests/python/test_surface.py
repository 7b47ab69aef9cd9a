"""The module's Python surface: names, docstrings, argument rules, borrows, copies."""
import collections.abc
import inspect

import pytest

import _quirelo
from _quirelo import EpubBook, EpubItem, TocEntry

PUBLIC = ["_read_epub", "_read_epub_bytes", "_write_epub", "_write_epub_bytes", "_read_epubs",
          "EpubBook", "EpubItem", "TocEntry"]


def test_exports_exactly_the_eight_names_in_order():
    assert _quirelo.__all__ == PUBLIC
    assert sorted(n for n in dir(_quirelo) if not n.startswith("__")) == sorted(PUBLIC)
    assert _quirelo.__doc__ == ""


@pytest.mark.parametrize("callable_, signature", [
    (_quirelo._read_epub, "(path, ignore_ncx=False, ignore_nav=False, lazy=False)"),
    (_quirelo._read_epub_bytes, "(data, ignore_ncx=False, ignore_nav=False, lazy=False)"),
    (_quirelo._write_epub, "(path, book)"),
    (_quirelo._write_epub_bytes, "(book)"),
    (_quirelo._read_epubs, "(paths, workers=None, ignore_ncx=False, ignore_nav=False)"),
    (EpubBook, "()"),
    (TocEntry, "(title, href, children=Ellipsis)"),
    (EpubBook.add_author, "(self, /, name, file_as=None, role=None, uid=None)"),
    (EpubBook.add_item_raw, "(self, /, id, href, media_type, content, item_type, properties=None)"),
    (EpubBook.__exit__, "(self, /, _exc_type, _exc_val, _exc_tb)"),
    (EpubItem.get_text, "(self, /)"),
])
def test_signatures(callable_, signature):
    assert str(inspect.signature(callable_)) == signature


@pytest.mark.parametrize("method, text", [
    (EpubBook.get_items, "Return all items in the book."),
    (EpubBook.get_metadata, "Get metadata values for a given namespace and field.\n"
                            "Returns list of (value, attributes_dict) tuples."),
    (EpubBook.validate, "Validate the book against EPUB spec requirements.\n"
                        "Returns a list of issue descriptions (empty = valid)."),
    (EpubBook.add_item_raw, "Add a raw item to the book (called from Python convenience classes)."),
    (EpubBook.__enter__, None),  # the host shows an empty text after a signature as None
    (EpubItem.get_type, "Return the item type as a u8 constant."),
    (_quirelo._read_epub, None),
])
def test_docstrings_after_signature(method, text):
    assert method.__doc__ == text
    assert method.__text_signature__.startswith("(")


def test_class_and_attribute_docstrings():
    assert EpubBook.toc.__doc__ == "Table of contents entries (getter)."
    assert EpubItem.__doc__ is None
    assert TocEntry.title.__doc__ == "" and TocEntry.children.__doc__ == ""


def test_subclassing_and_construction_rules():
    class Book(EpubBook):
        def __init__(self, title):
            self.set_title(title)

    book = Book("Sub")
    assert repr(book) == "EpubBook(title='Sub')" and book.validate()[0].startswith("Missing")
    with pytest.raises(TypeError):
        class Entry(TocEntry):
            pass
    with pytest.raises(TypeError):
        class Item(EpubItem):
            pass
    with pytest.raises(TypeError):
        EpubItem()
    with pytest.raises(TypeError, match=r"^EpubBook.__new__\(\) takes 0 positional arguments but 1 was given$"):
        EpubBook(1)


def test_reprs_are_unescaped():
    book = EpubBook()
    assert repr(book) == "EpubBook(title='<untitled>')"
    book.set_title("It's")
    assert repr(book) == "EpubBook(title='It's')"
    book.add_item_raw("i'd", "a.xhtml", "text/html", b"", 9)
    assert repr(book.get_items()[0]) == "EpubItem(id='i'd', href='a.xhtml', type=9)"
    assert repr(TocEntry("T", "h#x")) == "TocEntry(title='T', href='h#x')"


def test_context_manager_returns_same_object_and_propagates():
    with EpubBook() as book:
        bound = book
    assert bound is book
    with pytest.raises(KeyError):
        with EpubBook():
            raise KeyError("x")
    book.set_title("still usable")


class _Seq(collections.abc.Sequence):
    def __init__(self, items):
        self._items = items

    def __len__(self):
        return len(self._items)

    def __getitem__(self, index):
        return self._items[index]


B = EpubBook()


@pytest.mark.parametrize("call, error, message", [
    (lambda: _quirelo._read_epub(), TypeError, "_read_epub() missing 1 required positional argument: 'path'"),
    (lambda: B.add_item_raw("a"), TypeError,
     "EpubBook.add_item_raw() missing 4 required positional arguments: 'href', 'media_type', 'content', and 'item_type'"),
    (lambda: B.get_metadata(), TypeError,
     "EpubBook.get_metadata() missing 2 required positional arguments: 'namespace' and 'name'"),
    (lambda: _quirelo._read_epub("p", bogus=True), TypeError, "_read_epub() got an unexpected keyword argument 'bogus'"),
    (lambda: _quirelo._read_epub("p", path="q"), TypeError, "_read_epub() got multiple values for argument 'path'"),
    (lambda: _quirelo._write_epub(1, 2, 3), TypeError, "_write_epub() takes 2 positional arguments but 3 were given"),
    (lambda: B.get_items(1), TypeError, "EpubBook.get_items() takes 0 positional arguments but 1 was given"),
    (lambda: B.add_author("a", 1, 2, 3, 4), TypeError,
     "EpubBook.add_author() takes from 1 to 4 positional arguments but 5 were given"),
    (lambda: _quirelo._read_epub(b"p"), TypeError, "argument 'path': 'bytes' object is not an instance of 'str'"),
    (lambda: _quirelo._read_epub(None), TypeError, "argument 'path': 'None' is not an instance of 'str'"),
    (lambda: _quirelo._read_epub("p", lazy=1), TypeError, "argument 'lazy': 'int' object is not an instance of 'bool'"),
    (lambda: _quirelo._read_epub_bytes(bytearray(b"x")), TypeError,
     "argument 'data': 'bytearray' object is not an instance of 'bytes'"),
    (lambda: _quirelo._write_epub_bytes("book"), TypeError,
     "argument 'book': 'str' object is not an instance of 'EpubBook'"),
    (lambda: B.add_item_raw("a", "b", "c", "abc", 1), TypeError, "Can't extract `str` to `Vec`"),
    (lambda: B.add_item_raw("a", "b", "c", 5, 1), TypeError, "'int' object is not an instance of 'Sequence'"),
    (lambda: B.add_item_raw("a", "b", "c", [1, 256], 1), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda: B.add_item_raw("a", "b", "c", b"", 256), OverflowError, "out of range integral type conversion attempted"),
    (lambda: B.get_items_of_type(-1), OverflowError, "out of range integral type conversion attempted"),
    (lambda: B.get_items_of_type(2 ** 80), OverflowError, "out of range integral type conversion attempted"),
    (lambda: B.get_items_of_type(1.0), TypeError,
     "argument 'item_type': 'float' object cannot be interpreted as an integer"),
    (lambda: B.add_metadata("DC", "x", "v", {"k": 1}), TypeError,
     "argument 'others': 'int' object is not an instance of 'str'"),
    (lambda: B.add_metadata("DC", "x", "v", [("k", "v")]), TypeError,
     "argument 'others': 'list' object is not an instance of 'dict'"),
    (lambda: B._set_spine_from_entries([("a", 1)]), TypeError,
     "argument 'entries': 'int' object is not an instance of 'bool'"),
    (lambda: B._set_spine_from_entries([("a", True, 0)]), ValueError,
     "expected tuple of length 2, but got tuple of length 3"),
    (lambda: B._set_spine_from_entries([["a", True]]), TypeError,
     "argument 'entries': 'list' object is not an instance of 'tuple'"),
    (lambda: B._set_spine_from_entries("ab"), TypeError, "argument 'entries': Can't extract `str` to `Vec`"),
    (lambda: B._set_toc_from_entries([1]), TypeError, "argument 'entries': 'int' object is not an instance of 'TocEntry'"),
    (lambda: TocEntry("t", "h", None), TypeError, "argument 'children': 'None' is not an instance of 'Sequence'"),
    (lambda: TocEntry("t"), TypeError, "TocEntry.__new__() missing 1 required positional argument: 'href'"),
    (lambda: _quirelo._read_epubs("a.epub"), TypeError, "argument 'paths': Can't extract `str` to `Vec`"),
    (lambda: _quirelo._read_epubs([b"a.epub"]), TypeError, "argument 'paths': 'bytes' object is not an instance of 'str'"),
    (lambda: _quirelo._read_epubs(5), TypeError, "argument 'paths': 'int' object is not an instance of 'Sequence'"),
    (lambda: _quirelo._read_epubs([], workers=-1), OverflowError, None),
    (lambda: _quirelo._read_epubs([], workers=2 ** 64), OverflowError, None),
    (lambda: _quirelo._read_epubs([], workers=1.5), TypeError, None),
])
def test_argument_errors(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert type(raised.value) is error
    if message is not None:
        assert str(raised.value) == message


def test_argument_error_keeps_cause():
    class Weird:
        def __index__(self):
            raise TypeError("inner") from KeyError("root")

    with pytest.raises(TypeError, match="^argument 'item_type': inner$") as raised:
        EpubBook().get_items_of_type(Weird())
    assert isinstance(raised.value.__cause__, KeyError)


def test_content_accepts_bytes_like_and_sequences():
    book = EpubBook()
    book.add_item_raw("a", "a", "x/y", b"ab", 0)
    book.add_item_raw("b", "b", "x/y", bytearray(b"cd"), 0)
    book.add_item_raw("c", "c", "x/y", [101, 102], 0)
    book.add_item_raw("d", "d", "x/y", _Seq([103]), 0)
    book.set_cover("c.png", (1, 2))
    assert [i.get_content() for i in book.get_items()] == [b"ab", b"cd", b"ef", b"g", b"\x01\x02"]


def test_borrow_conflicts_while_converting_arguments():
    book = EpubBook()

    class Reads(_Seq):
        def __iter__(self):
            book.get_items()
            return iter(self._items)

    class Writes(_Seq):
        def __iter__(self):
            book.set_title("x")
            return iter(self._items)

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        book._set_spine_from_entries(Reads([("a", True)]))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        book._set_toc_from_entries(Writes([]))
    # Both borrows were released again.
    book._set_spine_from_entries([("a", True)])
    assert book.get_spine() == [("a", True)]


def test_getters_hand_out_copies():
    book = EpubBook()
    book.add_metadata("X", "k", "v", {"a": "b"})
    values = book.get_metadata("X", "k")
    values[0][1]["a"] = "changed"
    values.append(("more", {}))
    assert book.get_metadata("X", "k") == [("v", {"a": "b"})]
    assert book.get_metadata("nope", "k") == []
    child = TocEntry("c", "c.xhtml")
    parent = TocEntry("p", "p.xhtml", [child])
    parent.children.append(TocEntry("x", "y"))
    parent.children[0].children.append(child)
    assert [e.title for e in parent.children] == ["c"] and parent.children[0].children == []
    book._set_toc_from_entries((parent,))
    toc = book.toc
    assert toc[0] is not book.toc[0] and toc[0].children[0].href == "c.xhtml"
    assert TocEntry("t", "h").children == []


def test_items_are_shared_records():
    book = EpubBook()
    book.add_item_raw("a", "a.xhtml", "application/xhtml+xml", b"<p>x</p>", 9)
    first, second = book.get_item_with_id("a"), book.get_item_with_href("a.xhtml")
    assert first is not second and first.get_id() == second.get_id() == "a"
    assert book.get_item_with_id("missing") is None
    assert (first.get_name(), first.get_media_type(), first.get_type()) == ("a.xhtml", "application/xhtml+xml", 9)


def test_spine_and_metadata_round_trip():
    book = EpubBook()
    book.set_identifier("urn:x")
    book.set_language("en")
    book.set_title("One")
    book.set_title("Two")
    book.add_author("A", file_as="A, a", role="aut", uid="c1")
    book.add_author("B")
    book._set_spine_from_entries([("c1", True), ("c2", False)])
    assert book.get_metadata("DC", "title") == [("Two", {})]
    assert book.get_metadata("DC", "creator") == [
        ("A", {"opf:file-as": "A, a", "opf:role": "aut", "id": "c1"}), ("B", {})]
    assert book.get_spine() == [("c1", True), ("c2", False)]


@pytest.mark.parametrize("setup, expected", [
    (lambda b: None, ["Missing required metadata: DC:identifier", "Missing required metadata: DC:title",
                      "Missing required metadata: DC:language",
                      "Spine is empty \u2014 at least one content document is required",
                      "No navigation item (NCX or Nav document) found"]),
    (lambda b: (b.set_identifier("i"), b.set_title(""), b.set_language("en"),
                b.add_item_raw("c", "c.xhtml", "application/xhtml+xml", b"", 9),
                b.add_item_raw("n", "toc.ncx", "application/x-dtbncx+xml", b"", 4),
                b._set_spine_from_entries([("c", True)])), []),
    (lambda b: (b.set_identifier("i"), b.set_title("t"), b.set_language("en"),
                b.add_item_raw("nav", "nav.xhtml", "application/xhtml+xml", b"", 0, "nav"),
                b._set_spine_from_entries([("x", True), ("x", True)])),
     ["Spine references item 'x' which is not in the manifest"] * 2),
])
def test_validation(setup, expected):
    book = EpubBook()
    setup(book)
    assert book.validate() == expected
    assert len("Spine is empty \u2014 at least one content document is required".encode()) == 60


def test_deep_toc_from_python_survives_every_walk():
    depth = 2000  # each constructor deep-copies its children: building is quadratic here
    entry = TocEntry("leaf", "leaf.xhtml")
    for level in range(depth):
        entry = TocEntry(f"t{level}", f"h{level}.xhtml", [entry])
    book = EpubBook()
    book._set_toc_from_entries([entry])
    walked = 0
    node = book.toc[0]
    while node.children:
        node = node.children[0]
        walked += 1
    assert walked == depth and node.title == "leaf"
    book.validate()
    del entry, node
