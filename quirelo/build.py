"""Helpers for building books the way people think about them."""
from __future__ import annotations

import os
import re
from collections.abc import Iterable, Iterator, Sequence
from typing import Union

from ._quirelo import EpubBook, EpubItem, TocEntry
from ._epub_rules import ITEM_TYPE_EXACT, ITEM_TYPE_PREFIXES, MEDIA_TYPES
from .item_types import ItemType


def guess_media_type(file_name: str) -> str:
    """The media type of a file name, from its extension (the whole name when it has no ".").

    The native core's table, widened for the package: for the extensions of the cover
    table it gives what ``EpubBook.set_cover`` gives; anything unknown is
    "application/octet-stream".
    """
    extension = file_name.rsplit(".", 1)[-1].lower()
    return MEDIA_TYPES.get(extension, "application/octet-stream")


def item_type_for(media_type: str) -> ItemType:
    """The item type of a media type alone; properties that mark an item as the navigation
    document or the cover are applied by the engine when the item is added."""
    if media_type in ITEM_TYPE_EXACT:
        return ITEM_TYPE_EXACT[media_type]
    for prefix, code in ITEM_TYPE_PREFIXES:
        if media_type.startswith(prefix):
            return code
    return ItemType.OTHER


def new_book(title: str, *, language: str = "en", identifier: str | None = None,
             authors: Iterable[str] = ()) -> EpubBook:
    """A book with its title, language, identifier (a new urn:uuid when not given) and authors."""
    book = EpubBook()
    if identifier is None:
        import uuid  # here, not at the top: the command line never builds a book

        identifier = f"urn:uuid:{uuid.uuid4()}"
    book.set_identifier(identifier)
    book.set_title(title)
    book.set_language(language)
    for author in authors:
        book.add_author(author)
    return book


def _unique_id(book: EpubBook, wanted: str) -> str:
    base = re.sub(r"[^A-Za-z0-9_.-]", "-", wanted) or "item"
    if not (base[0].isalpha() or base[0] == "_"):
        base = "i-" + base
    candidate, counter = base, 2
    while book.get_item_with_id(candidate) is not None:
        candidate, counter = f"{base}-{counter}", counter + 1
    return candidate


def _as_bytes(content: Union[str, bytes, bytearray, memoryview]) -> bytes:
    return content.encode("utf-8") if isinstance(content, str) else bytes(content)


def add_file(book: EpubBook, file_name: str, content: Union[str, bytes, bytearray, memoryview], *,
             media_type: str | None = None, id: str | None = None, properties: str | None = None) -> str:
    """Add any resource under ``file_name`` (its href); returns the item's id."""
    media_type = media_type or guess_media_type(file_name)
    item_id = id if id is not None else _unique_id(book, os.path.splitext(os.path.basename(file_name))[0])
    book.add_item_raw(item_id, file_name, media_type, _as_bytes(content),
                      int(item_type_for(media_type)), properties)
    return item_id


_HTML_START = re.compile(r"<\s*html[\s>]", re.IGNORECASE)


def add_chapter(book: EpubBook, file_name: str, xhtml: Union[str, bytes], *, title: str | None = None,
                id: str | None = None, language: str | None = None) -> str:
    """Add an XHTML chapter; a body fragment is wrapped into a complete document.

    Returns the item's id (derived from the file name when not given).
    """
    text = xhtml.decode("utf-8") if isinstance(xhtml, (bytes, bytearray)) else xhtml
    if not _HTML_START.search(text):
        import html  # here, not at the top: the command line never builds a book

        lang = html.escape(language or "en")
        heading = html.escape(title or os.path.splitext(os.path.basename(file_name))[0])
        text = ('<?xml version="1.0" encoding="UTF-8"?>\n'
                f'<html xmlns="http://www.w3.org/1999/xhtml" xml:lang="{lang}" lang="{lang}">\n'
                f"<head><title>{heading}</title></head>\n<body>\n{text}\n</body>\n</html>\n")
    return add_file(book, file_name, text, media_type="application/xhtml+xml", id=id)


def add_image(book: EpubBook, file_name: str, data: Union[bytes, bytearray, memoryview], *,
              id: str | None = None, cover: bool = False) -> str:
    """Add an image; with ``cover`` it becomes the book's cover (id "cover-image").

    Either way the media type is ``guess_media_type``'s, so a cover in a format outside
    ``set_cover``'s fixed table (AVIF, say) keeps its real type.
    """
    if cover:
        # What EpubBook.set_cover does, with the package's wider media-type table.
        book.add_item_raw("cover-image", file_name, guess_media_type(file_name), bytes(data), int(ItemType.COVER))
        book.add_metadata("OPF", "cover", "cover-image")
        return "cover-image"
    return add_file(book, file_name, data, id=id)


def add_stylesheet(book: EpubBook, file_name: str, css: Union[str, bytes], *, id: str | None = None) -> str:
    """Add a CSS style sheet; returns its id."""
    return add_file(book, file_name, css, media_type="text/css", id=id)


SpineRef = Union[str, EpubItem, "tuple[str | EpubItem, bool]"]


def set_spine(book: EpubBook, entries: Iterable[SpineRef]) -> None:
    """Set the reading order from ids, items, or (id or item, linear) pairs."""
    pairs = []
    for entry in entries:
        linear = True
        if isinstance(entry, tuple):
            entry, linear = entry
        idref = entry.get_id() if isinstance(entry, EpubItem) else entry
        pairs.append((idref, bool(linear)))
    book._set_spine_from_entries(pairs)


TocShape = Union[TocEntry, "tuple[str, str]", "tuple[str, str, Sequence[TocShape]]"]


def _unpack(raw: object) -> tuple[str, str, Sequence[TocShape]]:
    if not isinstance(raw, (tuple, list)) or len(raw) not in (2, 3):
        raise TypeError(f"a table-of-contents entry is a TocEntry or (title, href[, children]), not {raw!r}")
    title, href, *rest = raw
    return title, href, (rest[0] if rest else ())


class _TocFrame:
    """Entries still to convert, those built so far, and the pending parent (if any)."""

    __slots__ = ("pending", "built", "parent")

    def __init__(self, pending: Iterator[TocShape], parent: tuple[str, str, list[TocEntry]] | None) -> None:
        self.pending = pending
        self.built: list[TocEntry] = []
        self.parent = parent


def toc_entries(entries: Iterable[TocShape]) -> list[TocEntry]:
    """TocEntry objects from nested (title, href[, children]) tuples; any depth."""
    root = _TocFrame(iter(entries), None)
    stack = [root]
    while stack:
        frame = stack[-1]
        for raw in frame.pending:
            if isinstance(raw, TocEntry):
                frame.built.append(raw)
                continue
            title, href, children = _unpack(raw)
            if children:
                stack.append(_TocFrame(iter(children), (title, href, frame.built)))
                break
            frame.built.append(TocEntry(title, href))
        else:
            stack.pop()
            if frame.parent is not None:
                title, href, siblings = frame.parent
                siblings.append(TocEntry(title, href, frame.built))
    return root.built


def set_toc(book: EpubBook, entries: Iterable[TocShape]) -> None:
    """Set the table of contents from TocEntry objects or nested (title, href[, children]) tuples."""
    book._set_toc_from_entries(toc_entries(entries))
