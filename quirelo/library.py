"""Finding books and turning them into results, for the command line and the dataset.

One ordering of books for every caller, and one function (``iter_books``) that turns
paths, local or URLs, into results through the native pipeline as the books finish;
every book's failure stays with that book.
"""
from __future__ import annotations

import dataclasses
import os
import shutil
import tempfile
from collections.abc import Generator, Iterable, Iterator, Sequence
from typing import Any

from ._quirelo import EpubBook, TocEntry
from .convert import BookResult, iter_convert
from .io import read_epub, read_epub_bytes

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


def reason(error: BaseException) -> str:
    """The text that explains a failure; bare exceptions such as MemoryError() say what they are."""
    text = str(error)
    if isinstance(error, MemoryError):
        return f"out of memory{': ' + text if text else ''}"
    if isinstance(error, OSError) and error.filename is not None and error.strerror:
        return f"{error.filename}: {error.strerror}"
    return text or type(error).__name__


def read_one(path: str) -> EpubBook:
    """The book at a local path or fsspec URL."""
    if is_url(path):
        import fsspec

        with fsspec.open(path, "rb") as stream:
            return read_epub_bytes(stream.read())
    return read_epub(path)


def _convert_remote(path: str, workers: int | None, outputs: dict[str, Any], target: str | None) -> BookResult:
    """The result of the book at a URL: it is copied to a temporary local file, which the
    pipeline then converts like any other."""
    import fsspec

    with tempfile.TemporaryDirectory(prefix="quirelo-") as folder:
        local = os.path.join(folder, "book.epub")
        try:
            with fsspec.open(path, "rb") as source, open(local, "wb") as target_file:
                shutil.copyfileobj(source, target_file)
        except INTERRUPTS:
            raise
        except BaseException as error:  # noqa: BLE001 - a book that cannot be fetched fails alone
            return BookResult(path, error=error)
        outputs = dict(outputs, workers=workers, markdown_files=None if target is None else [target])
        [result] = iter_convert([local], **outputs)
    return dataclasses.replace(result, path=path)


def iter_books(paths: Sequence[str], *, markdown: bool = True, text: bool = False, summary: bool = False,
               issues: bool = False, workers: int | None = None, window: int | None = None,
               markdown_files: Sequence[str] | None = None) -> Generator[BookResult, None, None]:
    """One result per path (local or URL), each with its ``index`` in paths, made by the
    native pipeline: the local books through one stream, in the order they finish, then the
    books at URLs one by one. A book that fails in any way carries its error.

    With ``markdown_files``, the workers write each book's Markdown there (see
    ``iter_convert``); a fault of the whole output raises OSError. Raises RuntimeError
    when the worker pool cannot be started.
    """
    outputs: dict[str, Any] = {"markdown": markdown, "text": text, "summary": summary, "issues": issues}
    local = [index for index, path in enumerate(paths) if not is_url(path)]
    if len(local) == len(paths):
        yield from iter_convert(paths, workers=workers, window=window, markdown_files=markdown_files, **outputs)
        return
    if local:
        targets = None if markdown_files is None else [markdown_files[index] for index in local]
        for result in iter_convert([paths[index] for index in local], workers=workers, window=window,
                                   markdown_files=targets, **outputs):
            yield dataclasses.replace(result, index=local[result.index])  # type: ignore[index]
    for index, path in enumerate(paths):
        if is_url(path):
            target = None if markdown_files is None else markdown_files[index]
            yield dataclasses.replace(_convert_remote(path, workers, outputs, target), index=index)


def convert_books(paths: Sequence[str], *, markdown: bool = True, text: bool = False, summary: bool = False,
                  issues: bool = False, workers: int | None = None) -> list[BookResult]:
    """The results of iter_books in input order; every result is held until the call
    returns, so callers pass small batches."""
    results: list[BookResult | None] = [None] * len(paths)
    for result in iter_books(paths, markdown=markdown, text=text, summary=summary, issues=issues, workers=workers):
        results[result.index] = result  # type: ignore[index]
    return results  # type: ignore[return-value]
