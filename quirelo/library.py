"""Finding books and turning them into results, for the command line and the dataset.

One ordering of books for every caller, one way to read a batch in which any book may
fail, and one function (``convert_books``) that turns a small batch of paths into
results; every book's failure stays with that book.
"""
from __future__ import annotations

import dataclasses
import html
import os
from collections.abc import Iterable, Iterator, Sequence

from ._quirelo import EpubBook, EpubItem, TocEntry
from .io import read_epub, read_epub_bytes, read_epubs
from .item_types import ItemType

ITEM_COLUMNS = [f"items_{item_type.name.lower()}" for item_type in ItemType]

# What stops the whole program rather than one book. Anything else a book raises, even the
# reader's internal fault (a BaseException), is that book's failure.
INTERRUPTS = (KeyboardInterrupt, SystemExit)


def is_url(path: str) -> bool:
    return "://" in path and not path.startswith("file://")


def find_books(sources: Iterable[str | os.PathLike[str]]) -> list[str]:
    """The .epub files among sources, local or fsspec URLs: files as given, folders searched
    recursively with the books of each folder source sorted by path."""
    books: list[str] = []
    for source in (os.fspath(source) for source in sources):
        if is_url(source):
            import fsspec

            fs, root = fsspec.core.url_to_fs(source)
            if fs.isdir(root):
                protocol = source.split("://", 1)[0]
                found = sorted(p for p in fs.find(root) if p.lower().endswith(".epub"))
                books.extend(f"{protocol}://{p}" for p in found)
            else:
                books.append(source)
        elif os.path.isdir(source):
            found = []
            for folder, _dirs, files in os.walk(source):
                found.extend(os.path.join(folder, name) for name in files if name.lower().endswith(".epub"))
            books.extend(sorted(found))
        else:
            books.append(source)
    return books


def book_size(path: str, *, remote: bool = False) -> int | None:
    """The archive's size in bytes, or None when it cannot be known (or, for a URL without
    ``remote``, not without asking its server)."""
    try:
        if is_url(path):
            if not remote:
                return None
            import fsspec

            fs, root = fsspec.core.url_to_fs(path)
            return fs.size(root)
        return os.path.getsize(path)
    except (OSError, ValueError):
        return None


def spine_documents(book: EpubBook) -> Iterator[EpubItem]:
    for idref, _linear in book.get_spine():
        item = book.get_item_with_id(idref)
        if item is not None and item.get_type() == ItemType.DOCUMENT:
            yield item


def spine_text(book: EpubBook) -> str:
    """The plain text of the spine documents, non-empty ones joined by a blank line."""
    # get_text leaves character references as written; readers of plain text want them decoded.
    texts = (item.get_text() for item in spine_documents(book))
    return "\n\n".join(html.unescape(text) for text in texts if text)


def first_metadata(book: EpubBook, name: str) -> str | None:
    values = book.get_metadata("DC", name)
    return values[0][0] if values else None


def walk_toc(entries: Sequence[TocEntry]) -> Iterator[tuple[int, TocEntry]]:
    """(depth, entry) of every table-of-contents entry in reading order, without recursion."""
    stack = [(0, entry) for entry in reversed(entries)]
    while stack:
        depth, entry = stack.pop()
        yield depth, entry
        stack.extend((depth + 1, child) for child in reversed(entry.children))


def book_summary(book: EpubBook) -> dict[str, object]:
    """The dataset's metadata columns of one book."""
    counts = [0] * len(ITEM_COLUMNS)
    for item in book.get_items():
        counts[item.get_type()] += 1
    summary: dict[str, object] = {
        "identifier": first_metadata(book, "identifier"),
        "title": first_metadata(book, "title"),
        "authors": [value for value, _ in book.get_metadata("DC", "creator")],
        "language": first_metadata(book, "language"),
        "items": sum(counts),
    }
    summary.update(zip(ITEM_COLUMNS, counts))
    summary["spine_length"] = len(book.get_spine())
    summary["toc_size"] = sum(1 for _ in walk_toc(book.toc))
    return summary


def reason(error: BaseException) -> str:
    """The text that explains a failure; bare exceptions such as MemoryError() say what they are."""
    text = str(error)
    if isinstance(error, MemoryError):
        return f"out of memory{': ' + text if text else ''}"
    return text or type(error).__name__


def read_one(path: str) -> EpubBook:
    """The book at a local path or fsspec URL."""
    if is_url(path):
        import fsspec

        with fsspec.open(path, "rb") as stream:
            return read_epub_bytes(stream.read())
    return read_epub(path)


def read_books(paths: Sequence[str], workers: int | None = None) -> list[EpubBook | BaseException]:
    """Book or the exception that stopped it, per path; one bad book never hides the others.

    Local books are read together by the parallel reader; if that batch fails, each book
    of it is read alone, so every failure is reported with its own book.
    """
    outcomes: dict[str, EpubBook] = {}
    local = [path for path in paths if not is_url(path)]
    if local:
        try:
            outcomes = dict(zip(local, read_epubs(local, workers=workers)))
        except INTERRUPTS:
            raise
        except BaseException:  # noqa: BLE001 - the batch names only its first failure
            outcomes = {}
    results: list[EpubBook | BaseException] = []
    for path in paths:
        if path in outcomes:
            results.append(outcomes.pop(path))
            continue
        try:
            results.append(read_one(path))
        except INTERRUPTS:
            raise
        except BaseException as error:  # noqa: BLE001 - any failure belongs to this book alone
            results.append(error)
    return results


@dataclasses.dataclass
class BookResult:
    """What was made of one book; ``error`` is set (and the rest None) when it failed."""

    path: str
    markdown: str | None = None
    text: str | None = None
    summary: dict[str, object] | None = None
    issues: list[str] | None = None
    error: BaseException | None = None


def convert_books(paths: Sequence[str], *, markdown: bool = True, text: bool = False, summary: bool = False,
                  issues: bool = False, workers: int | None = None) -> list[BookResult]:
    """One result per path, in input order; a book that fails in any way carries its error.

    Callers pass small batches: every book of a batch is held until the batch is read.
    """
    books = read_books(paths, workers)
    books.reverse()
    results = []
    for path in paths:
        book = books.pop()  # each book is freed as soon as it is converted
        if isinstance(book, BaseException):
            results.append(BookResult(path, error=book))
            continue
        try:
            results.append(BookResult(
                path,
                markdown=book.to_markdown() if markdown else None,
                text=spine_text(book) if text else None,
                summary=book_summary(book) if summary else None,
                issues=book.validate() if issues else None,
            ))
        except INTERRUPTS:
            raise
        except BaseException as error:  # noqa: BLE001
            results.append(BookResult(path, error=error))
    return results


def batches(paths: Sequence[str], max_books: int, max_bytes: int) -> Iterator[list[str]]:
    """Consecutive runs of paths with at most max_books books and, unless one book alone is
    larger, at most max_bytes of archives, so that a batch's memory does not grow with the folder."""
    batch: list[str] = []
    size = 0
    for path in paths:
        book_bytes = book_size(path) or 0
        if batch and (len(batch) >= max_books or size + book_bytes > max_bytes):
            yield batch
            batch, size = [], 0
        batch.append(path)
        size += book_bytes
    if batch:
        yield batch
