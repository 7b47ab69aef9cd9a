"""The quirelo package: path- and bytes-friendly functions, item types, book helpers."""
import os
import pathlib

import pytest

import quirelo
from conftest import sample_book
from quirelo import ItemType
from quirelo._epub_rules import COVER_EXTENSIONS


def test_unique_ids_and_media_types():
    book = quirelo.new_book("x")
    assert quirelo.add_chapter(book, "a/1.xhtml", "<p>a</p>") == "i-1"
    assert quirelo.add_chapter(book, "b/1.xhtml", "<p>b</p>") == "i-1-2"
    assert quirelo.add_file(book, "_x.css", "") == "_x" and quirelo.add_file(book, "é b.css", "") == "i---b"
    assert [quirelo.guess_media_type(name) for name in ("x.WOFF2", "noext")] == ["font/woff2", "application/octet-stream"]


def test_every_helper_gives_one_media_type():
    def cover_of(book):
        item = book.get_items()[0]
        return item.get_id(), item.get_name(), item.get_media_type(), item.get_type(), book.get_metadata("OPF", "cover")

    for extension in sorted(set(COVER_EXTENSIONS) | {"avif", "AVIF", "Jpg", "", "tar.gz", "woff"}):
        name = f"images/a.{extension}"
        by_file, by_image, by_cover, by_native = (quirelo.new_book("x") for _ in range(4))
        quirelo.add_file(by_file, name, b"x")
        quirelo.add_image(by_image, name, b"x")
        quirelo.add_image(by_cover, name, b"x", cover=True)
        assert len({book.get_items()[0].get_media_type() for book in (by_file, by_image, by_cover)}) == 1, name
        if extension.rsplit(".", 1)[-1].lower() in COVER_EXTENSIONS:
            by_native.set_cover(name, b"x")
            assert cover_of(by_cover) == cover_of(by_native), name


@pytest.mark.parametrize("make_path, wrap", [(str, bytes), (pathlib.Path, bytearray), (os.fsencode, memoryview)])
def test_helpers_book_round_trips_through_path_likes_and_bytes_likes(tmp_path, make_path, wrap):
    target = make_path(str(tmp_path / "book.epub"))
    quirelo.write_epub(target, sample_book())
    again = quirelo.read_epub(target, lazy=True)
    assert repr(again) == "EpubBook(title='Sample')" and again.validate() == []
    assert again.get_spine() == [("one", True), ("two", False)]
    types = {item.get_name(): ItemType(item.get_type()) for item in again.get_items()}
    assert [types[name] for name in ("css/main.css", "images/pic.png", "images/cover.jpg", "images/logo.svg")] == [
        ItemType.STYLE, ItemType.IMAGE, ItemType.COVER, ItemType.VECTOR_IMAGE]
    # get_text strips tags and leaves entities as written (the toc and authors: test_cli.py's info and toc)
    assert again.get_item_with_id("one").get_text() == "One OneFirst &amp; best."
    assert len(quirelo.read_epubs([target] * 2, workers=1)) == 2
    assert quirelo.read_epub_bytes(wrap(quirelo.write_epub_bytes(sample_book()))).validate() == []
    with pytest.raises(TypeError):
        quirelo.read_epubs(target)  # one path is no collection of paths


def test_deep_toc_from_nested_tuples():
    tree = ("leaf", "leaf.xhtml")
    for level in range(300):
        tree = (f"t{level}", f"h{level}.xhtml", [tree])
    depth, node = 0, quirelo.build.toc_entries([tree])[0]
    while node.children:
        node, depth = node.children[0], depth + 1
    assert depth == 300 and node.title == "leaf"
    with pytest.raises(TypeError, match="table-of-contents entry"):
        quirelo.build.toc_entries(["just a title"])
