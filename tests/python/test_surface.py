"""The module's Python surface: argument rules, borrows, copies; one row per kind
of argument error, and the text binding (its rules are the C++ tables')."""
import collections.abc

import pytest

import _quirelo
from _quirelo import EpubBook, EpubItem, TocEntry


def test_construction_reprs_and_context_manager():
    book = type("Book", (EpubBook,), {"__init__": lambda self, title: self.set_title(title)})("Sub")
    assert repr(book) == "EpubBook(title='Sub')"
    for base in (TocEntry, EpubItem):
        with pytest.raises(TypeError):
            type("Sub", (base,), {})
    with pytest.raises(TypeError):
        EpubItem()
    with EpubBook() as book:
        assert repr(book) == "EpubBook(title='<untitled>')"
    book.set_title("It's")
    assert repr(book) == "EpubBook(title='It's')"
    book.add_item_raw("i'd", "a.xhtml", "text/html", b"", 9)
    assert repr(book.get_items()[0]) == "EpubItem(id='i'd', href='a.xhtml', type=9)"
    assert repr(TocEntry("T", "h#x")) == "TocEntry(title='T', href='h#x')"
    with pytest.raises(KeyError), EpubBook():
        raise KeyError("x")


class _Seq(collections.abc.Sequence):
    def __init__(self, items):
        self._items = items

    def __len__(self):
        return len(self._items)

    def __getitem__(self, index):
        return self._items[index]


B = EpubBook()
RANGE, NOT = "out of range integral type conversion attempted", "object is not an instance of"


@pytest.mark.parametrize("call, error, message", [
    (lambda: _quirelo._read_epub(), TypeError, "_read_epub() missing 1 required positional argument: 'path'"),
    (lambda: B.add_item_raw("a"), TypeError, "EpubBook.add_item_raw() missing 4 required positional arguments: "
                                             "'href', 'media_type', 'content', and 'item_type'"),
    (lambda: _quirelo._read_epub("p", bogus=True), TypeError, "_read_epub() got an unexpected keyword argument 'bogus'"),
    (lambda: _quirelo._read_epub("p", path="q"), TypeError, "_read_epub() got multiple values for argument 'path'"),
    (lambda: _quirelo._write_epub(1, 2, 3), TypeError, "_write_epub() takes 2 positional arguments but 3 were given"),
    (lambda: B.add_author("a", 1, 2, 3, 4), TypeError,
     "EpubBook.add_author() takes from 1 to 4 positional arguments but 5 were given"),
    (lambda: EpubBook(1), TypeError, "EpubBook.__new__() takes 0 positional arguments but 1 was given"),
    (lambda: _quirelo._read_epub(None), TypeError, "argument 'path': 'None' is not an instance of 'str'"),
    (lambda: _quirelo._read_epub("p", lazy=1), TypeError, f"argument 'lazy': 'int' {NOT} 'bool'"),
    (lambda: _quirelo._read_epub_bytes(bytearray(b"x")), TypeError, f"argument 'data': 'bytearray' {NOT} 'bytes'"),
    (lambda: _quirelo._write_epub_bytes("book"), TypeError, f"argument 'book': 'str' {NOT} 'EpubBook'"),
    (lambda: _quirelo._read_epubs("a.epub"), TypeError, "argument 'paths': Can't extract `str` to `Vec`"),
    (lambda: _quirelo._read_epubs([b"a.epub"]), TypeError, f"argument 'paths': 'bytes' {NOT} 'str'"),
    (lambda: B.add_item_raw("a", "b", "c", 5, 1), TypeError, f"'int' {NOT} 'Sequence'"),
    (lambda: B.add_item_raw("a", "b", "c", [1, 256], 1), OverflowError, RANGE),
    (lambda: B.get_items_of_type(-1), OverflowError, RANGE),
    (lambda: B.get_items_of_type(2 ** 80), OverflowError, RANGE),
    (lambda: B.get_items_of_type(1.0), TypeError,
     "argument 'item_type': 'float' object cannot be interpreted as an integer"),
    (lambda: B.add_metadata("DC", "x", "v", {"k": 1}), TypeError, f"argument 'others': 'int' {NOT} 'str'"),
    (lambda: B._set_spine_from_entries([("a", True, 0)]), ValueError,
     "expected tuple of length 2, but got tuple of length 3"),
    # The first bad entry stops the conversion: the next one's error would replace its own.
    (lambda: B._set_spine_from_entries([["a", True], ("a", True, 0)]), TypeError,
     f"argument 'entries': 'list' {NOT} 'tuple'"),
    # A conversion that fails inside a tuple of the sequence fails the call.
    (lambda: B._set_spine_from_entries([(1, True)]), TypeError, f"argument 'entries': 'int' {NOT} 'str'"),
    (lambda: B._set_spine_from_entries([("a", 1)]), TypeError, f"argument 'entries': 'int' {NOT} 'bool'"),
    (lambda: B._set_toc_from_entries([1]), TypeError, f"argument 'entries': 'int' {NOT} 'TocEntry'"),
    (lambda: _quirelo._read_epubs([], workers=-1), OverflowError, None),
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
    for index, content in enumerate([b"ab", bytearray(b"cd"), [101, 0, 255], _Seq([103])]):
        book.add_item_raw(f"i{index}", "a", "x/y", content, 0)
    book.set_cover("c.png", (1, 2))
    assert [i.get_content() for i in book.get_items()] == [b"ab", b"cd", b"e\x00\xff", b"g", b"\x01\x02"]


def test_borrow_conflicts_while_converting_arguments():
    book = EpubBook()

    class Calling(_Seq):  # calls the book while the binding converts it
        def __iter__(self):
            self._items[0]()
            return iter(self._items[1:])

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        book._set_spine_from_entries(Calling([book.get_items, ("a", True)]))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        book._set_toc_from_entries(Calling([lambda: book.set_title("x")]))
    # Both borrows were released again.
    book._set_spine_from_entries([("a", True), ("b", False)])
    assert book.get_spine() == [("a", True), ("b", False)]


def test_getters_hand_out_copies():
    book = EpubBook()
    book.add_author("A", file_as="A, a", role="aut", uid="c1")
    values = book.get_metadata("DC", "creator")
    values[0][1]["id"] = "changed"
    values.append(("more", {}))
    assert book.get_metadata("DC", "creator") == [("A", {"opf:file-as": "A, a", "opf:role": "aut", "id": "c1"})]
    parent = TocEntry("p", "p.xhtml", [child := TocEntry("c", "c.xhtml")])
    parent.children.append(TocEntry("x", "y"))
    parent.children[0].children.append(child)
    assert [e.title for e in parent.children] == ["c"] and parent.children[0].children == []
    book._set_toc_from_entries((parent,))
    assert book.toc[0] is not book.toc[0] and book.toc[0].children[0].href == "c.xhtml"
    book.add_item_raw("a", "a.xhtml", "application/xhtml+xml", b"<p>x</p>", 9)
    first, second = book.get_item_with_id("a"), book.get_item_with_href("a.xhtml")
    assert first is not second and first.get_id() == second.get_id() == "a"
    assert book.get_item_with_id("missing") is None


def test_text_through_the_binding():
    book = EpubBook()  # Markdown and validate() are compared with the pipeline's in test_pipeline.py
    for item_id, item_type in [("d", 9), ("n", 4), ("i", 1)]:
        book.add_item_raw(item_id, f"{item_id}.xhtml", "application/xhtml+xml", b"<h1>T</h1><p>x\xffy</p>", item_type)
    assert [item.get_text() for item in book.get_items()] == ["Tx\ufffdy", "Tx\ufffdy", None]
