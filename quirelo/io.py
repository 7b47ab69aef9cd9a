"""Reading and writing books with path-likes and bytes-likes."""
from __future__ import annotations

import os
from collections.abc import Iterable
from typing import Union

from . import _quirelo
from ._quirelo import EpubBook

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def _path_text(path: PathLike) -> str:
    return os.fsdecode(os.fspath(path))


def _fill_toc(book: EpubBook, strict_toc: bool, ignore_ncx: bool, ignore_nav: bool) -> EpubBook:
    """Fills an empty table of contents from a navigation document or NCX written as HTML
    (a DOCTYPE line, HTML named entities), which the strict reader reads as empty."""
    if not strict_toc:
        book._fill_lenient_toc(ignore_ncx=bool(ignore_ncx), ignore_nav=bool(ignore_nav))
    return book


def read_epub(path: PathLike, *, lazy: bool = False, ignore_ncx: bool = False,
              ignore_nav: bool = False, strict_toc: bool = False) -> EpubBook:
    """Read the book at ``path``. With ``lazy``, item contents are decompressed on first use.

    An empty table of contents is filled from a navigation document (then an NCX) that
    has a DOCTYPE line or HTML named entities, unless ``strict_toc``. Raises ValueError
    for a file that is not a readable EPUB (the message says why).
    """
    book = _quirelo._read_epub(_path_text(path), ignore_ncx=bool(ignore_ncx),
                               ignore_nav=bool(ignore_nav), lazy=bool(lazy))
    return _fill_toc(book, strict_toc, ignore_ncx, ignore_nav)


def read_epub_bytes(data: bytes | bytearray | memoryview, *, lazy: bool = False,
                    ignore_ncx: bool = False, ignore_nav: bool = False, strict_toc: bool = False) -> EpubBook:
    """Read a book from an in-memory EPUB archive (any bytes-like object); ``strict_toc`` as for read_epub."""
    if not isinstance(data, bytes):
        data = bytes(data)  # the engine reads bytes in place; other buffers are copied once
    book = _quirelo._read_epub_bytes(data, ignore_ncx=bool(ignore_ncx),
                                     ignore_nav=bool(ignore_nav), lazy=bool(lazy))
    return _fill_toc(book, strict_toc, ignore_ncx, ignore_nav)


def read_epubs(paths: Iterable[PathLike], *, workers: int | None = None,
               ignore_ncx: bool = False, ignore_nav: bool = False, strict_toc: bool = False) -> list[EpubBook]:
    """Read many books at once on worker threads, in input order; ``strict_toc`` as for read_epub.

    ``workers=None`` uses a shared pool with one thread per logical processor. The first
    unreadable path (in input order) raises its ValueError and no book is returned.
    """
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("paths must be a collection of paths, not a single path")
    books = _quirelo._read_epubs([_path_text(path) for path in paths], workers=workers,
                                 ignore_ncx=bool(ignore_ncx), ignore_nav=bool(ignore_nav))
    return [_fill_toc(book, strict_toc, ignore_ncx, ignore_nav) for book in books]


def write_epub(path: PathLike, book: EpubBook) -> None:
    """Write ``book`` as an EPUB archive at ``path``.

    A book that cannot be written (no identifier, title, language or spine entry, or two
    items that would share an archive entry) raises ValueError and leaves an existing
    file at ``path`` untouched.
    """
    _quirelo._write_epub(_path_text(path), book)


def write_epub_bytes(book: EpubBook) -> bytes:
    """The EPUB archive of ``book`` as bytes."""
    return _quirelo._write_epub_bytes(book)
