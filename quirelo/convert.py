"""Converting many books at once: the native pipeline reads each book on a worker thread,
with the interpreter lock released, and makes only the outputs asked for."""
from __future__ import annotations

import dataclasses
import os
from collections.abc import Iterable

from . import _pipeline
from .io import PathLike, _path_text
from .item_types import ItemType

ITEM_COLUMNS = [f"items_{item_type.name.lower()}" for item_type in ItemType]


@dataclasses.dataclass(frozen=True)
class BookResult:
    """The outcome of one book: its outputs, or the error that stopped it (never raised)."""

    path: str
    markdown: str | None = None
    text: str | None = None
    summary: dict[str, object] | None = None
    issues: list[str] | None = None
    error: BaseException | None = None


def _summary(fields: tuple) -> dict[str, object]:
    identifier, title, authors, language, items, counts, spine_length, toc_size = fields
    summary: dict[str, object] = {"identifier": identifier, "title": title, "authors": authors,
                                  "language": language, "items": items}
    summary.update(zip(ITEM_COLUMNS, counts))
    summary.update(spine_length=spine_length, toc_size=toc_size)
    return summary


def convert_many(paths: Iterable[PathLike], *, markdown: bool = True, text: bool = False, summary: bool = False,
                 issues: bool = False, workers: int | None = None, strict_toc: bool = False) -> list[BookResult]:
    """Convert many books on worker threads; one BookResult per path, in input order.

    ``markdown``: the whole book as Markdown (``EpubBook.to_markdown``); ``text``: the plain
    text of the spine documents (each document's ``get_text``, references decoded, the
    non-empty ones joined by a blank line); ``summary``: the metadata columns of the
    dataset; ``issues``: ``EpubBook.validate``. Each is exactly what reading the book with
    ``read_epub`` gives. Only the archive entries these need are decompressed. A book that
    cannot be read has its ``error`` set (a ValueError with the reader's message, a
    MemoryError, ...) and the others are converted all the same. ``workers=None`` uses
    the shared pool, one thread per logical processor.
    """
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("paths must be a collection of paths, not a single path")
    texts = [_path_text(path) for path in paths]
    outcomes = _pipeline.convert_many(texts, workers=workers, markdown=bool(markdown), text=bool(text),
                                      summary=bool(summary), issues=bool(issues), strict_toc=bool(strict_toc))
    return [BookResult(path, book_markdown, book_text, None if fields is None else _summary(fields),
                       book_issues, error)
            for path, (book_markdown, book_text, fields, book_issues, error) in zip(texts, outcomes)]
