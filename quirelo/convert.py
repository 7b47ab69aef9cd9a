"""Converting many books at once: the native pipeline reads each book on a worker thread,
with the interpreter lock released, and makes only the outputs asked for."""
from __future__ import annotations

import dataclasses
import os
from collections.abc import Generator, Iterable, Iterator, Sequence
from typing import Any

from . import _pipeline
from .io import PathLike, _path_text
from .item_types import ItemType
from .markdown import MarkdownFlavor
from .sources import copy_to_file, is_url

# The summary's item counts, one per item type, as the engine names them.
ITEM_COLUMNS = [f"items_{item_type.name.lower()}" for item_type in ItemType]

# What stops the whole program rather than one book. Anything else a book raises, even the
# reader's internal fault (a BaseException), is that book's failure.
INTERRUPTS = (KeyboardInterrupt, SystemExit)


@dataclasses.dataclass(frozen=True)
class BookResult:
    """The outcome of one book: its outputs, or the error that stopped it (never raised)."""

    path: str
    markdown: str | None = None
    text: str | None = None
    summary: dict[str, object] | None = None
    issues: list[str] | None = None
    # One record per spine document: position, name, toc_title, markdown, text, word_count, content_hash.
    chapters: list[dict[str, object]] | None = None
    error: BaseException | None = None
    index: int | None = dataclasses.field(default=None, compare=False)  # the book's position in the paths


def _texts(paths: Iterable[PathLike], what: str) -> list[str]:
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError(f"{what} must be a collection of paths, not a single path")
    return [_path_text(path) for path in paths]


def iter_convert(paths: Iterable[PathLike], *, markdown: bool = True, text: bool = False, summary: bool = False,
                 issues: bool = False, workers: int | None = None, strict_toc: bool = False,
                 window: int | None = None, markdown_files: Sequence[PathLike] | None = None,
                 text_files: Sequence[PathLike] | None = None, flavor: MarkdownFlavor = "exact",
                 chapters: bool = False) -> Iterator[BookResult]:
    """Convert many books on worker threads; each BookResult as soon as its book is done
    (the order books finish in), with ``index``, its position in ``paths``.

    The outputs and errors are those of ``convert_many``. At most ``window`` books are in
    flight (started and not yet handed over; default two per worker), so memory depends on
    the workers and the window, never on the number of paths, and a slow book holds up
    nothing but itself. With ``markdown_files`` (or ``text_files``), one path per book, the
    workers write that output there as UTF-8, whole or not at all, and the result's field
    is None. A file that cannot be written is that book's ``error`` (an OSError naming it);
    a fault of the whole output (a full disk or quota, a read-only file system, a missing
    folder) raises OSError once the books in progress are done, and no further book starts.
    The threads are the stream's own (``workers``, default one per logical processor),
    never the shared pool of ``read_epubs``, so a paused iteration holds up no other
    work. Raises RuntimeError when the worker threads cannot start, ValueError for a
    ``flavor`` other than "exact" and "gfm".
    """
    texts = _texts(paths, "paths")
    files = {name: None if targets is None else _texts(targets, name)
             for name, targets in (("markdown_files", markdown_files), ("text_files", text_files))}
    stream = _pipeline.convert_stream(texts, workers=workers, window=window, markdown=bool(markdown),
                                      text=bool(text), summary=bool(summary), issues=bool(issues),
                                      strict_toc=bool(strict_toc), flavor=flavor, chapters=bool(chapters), **files)
    return _results(stream, texts)


def _results(stream: _pipeline.ConversionStream, texts: list[str]) -> Iterator[BookResult]:
    try:
        for index, book_markdown, book_text, book_summary, book_issues, book_chapters, error in stream:
            yield BookResult(texts[index], book_markdown, book_text, book_summary, book_issues, book_chapters, error,
                             index)
    finally:
        stream.close()  # an abandoned iteration starts no further book


def convert_many(paths: Iterable[PathLike], *, markdown: bool = True, text: bool = False, summary: bool = False,
                 issues: bool = False, workers: int | None = None, strict_toc: bool = False,
                 flavor: MarkdownFlavor = "exact", chapters: bool = False) -> list[BookResult]:
    """Convert many books on worker threads; one BookResult per path, in input order.

    ``markdown``: the whole book as Markdown in ``flavor`` (``to_markdown(book, flavor)``:
    "exact", the default, is ``EpubBook.to_markdown``; "gfm" GitHub Flavored Markdown); ``text``: the plain
    text of the spine documents (each document's ``get_text``, references decoded, the
    non-empty ones joined by a blank line); ``summary``: the metadata columns of the
    dataset; ``issues``: ``EpubBook.validate``; ``chapters``: one record per spine document
    (``position`` in the spine, ``name`` its href, ``toc_title`` of the first table-of-contents
    entry pointing at it or "", its ``markdown`` in ``flavor`` (in gfm, exactly its part of the
    book's), its plain ``text``, ``word_count`` and ``content_hash``, the SHA-1 of the text in
    hex). Each is exactly what reading the book with
    ``read_epub`` gives. Only the archive entries these need are decompressed. A book that
    cannot be read has its ``error`` set (a ValueError with the reader's message, a
    MemoryError, ...) and the others are converted all the same. ``workers=None`` is one
    thread per logical processor. The list of ``iter_convert``.
    """
    texts = _texts(paths, "paths")
    return in_input_order(iter_convert(texts, markdown=markdown, text=text, summary=summary, issues=issues,
                                       workers=workers, strict_toc=strict_toc, flavor=flavor, chapters=chapters),
                          len(texts))


def in_input_order(results: Iterable[BookResult], count: int) -> list[BookResult]:
    """The results of a stream, held until the last one comes, in the order of its paths."""
    ordered: list[BookResult | None] = [None] * count
    for result in results:
        ordered[result.index] = result  # type: ignore[index]
    return ordered  # type: ignore[return-value]


def reason(error: BaseException) -> str:
    """The text that explains a failure; bare exceptions such as MemoryError() say what they are."""
    text = str(error)
    if isinstance(error, MemoryError):
        return f"out of memory{': ' + text if text else ''}"
    if isinstance(error, OSError) and error.filename is not None and error.strerror:
        return f"{error.filename}: {error.strerror}"
    return text or type(error).__name__


def _convert_remote(path: str, outputs: dict[str, Any], target: str | None) -> BookResult:
    """The result of the book at a URL: it is copied to a temporary local file, which the
    pipeline then converts like any other."""
    import tempfile  # here, not at the top: only books at URLs need it

    with tempfile.TemporaryDirectory(prefix="quirelo-") as folder:
        local = os.path.join(folder, "book.epub")
        try:
            copy_to_file(path, local)
        except INTERRUPTS:
            raise
        except BaseException as error:  # noqa: BLE001 - a book that cannot be fetched fails alone
            return BookResult(path, error=error)
        [result] = iter_convert([local], **outputs, markdown_files=None if target is None else [target])
    return dataclasses.replace(result, path=path)


def iter_books(paths: Sequence[str], *, markdown_files: Sequence[str] | None = None,
               **outputs: Any) -> Generator[BookResult, None, None]:
    """iter_convert over paths that may be URLs, each result with its ``index`` in paths:
    the local books through one stream, in the order they finish, then the books at URLs
    one by one (each copied to a temporary local file first). A book that fails in any
    way carries its error; ``outputs`` are iter_convert's options.
    """
    local = [index for index, path in enumerate(paths) if not is_url(path)]
    if len(local) == len(paths):
        yield from iter_convert(paths, markdown_files=markdown_files, **outputs)
        return
    if local:
        targets = None if markdown_files is None else [markdown_files[index] for index in local]
        for result in iter_convert([paths[index] for index in local], markdown_files=targets, **outputs):
            yield dataclasses.replace(result, index=local[result.index])  # type: ignore[index]
    for index, path in enumerate(paths):
        if is_url(path):
            target = None if markdown_files is None else markdown_files[index]
            yield dataclasses.replace(_convert_remote(path, outputs, target), index=index)
