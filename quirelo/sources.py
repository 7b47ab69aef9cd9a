"""Where books come from and where outputs go: local paths, or URLs of any file system
fsspec knows (``s3://``, ``memory://``, ...).

The one module that speaks to fsspec, an optional dependency: everything else asks it
whether a path is a URL and lets it find, size, read and write what is remote.
"""
from __future__ import annotations

import os
from collections.abc import Iterable
from typing import IO, Any

from ._quirelo import EpubBook
from .io import read_epub, read_epub_bytes


def is_url(path: str) -> bool:
    return "://" in path and not path.startswith("file://")


def _file_system(url: str) -> tuple[Any, str]:
    import fsspec

    return fsspec.core.url_to_fs(url)


def find_books(sources: Iterable[str | os.PathLike[str]]) -> list[str]:
    """The .epub files among sources, local or URLs: files as given, folders searched
    recursively with the books of each folder source sorted by path."""
    books: list[str] = []
    for source in (os.fspath(source) for source in sources):
        if is_url(source):
            fs, root = _file_system(source)
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
            fs, root = _file_system(path)
            return fs.size(root)
        return os.path.getsize(path)
    except (OSError, ValueError):
        return None


def read_book(path: str) -> EpubBook:
    """The book at a local path or URL."""
    if is_url(path):
        fs, root = _file_system(path)
        with fs.open(root, "rb") as stream:
            return read_epub_bytes(stream.read())
    return read_epub(path)


def copy_to_file(url: str, local_path: str) -> None:
    """Copies the file at url to a local file, which the native pipeline can then read."""
    import shutil  # here, not at the top: only books at URLs need it

    fs, root = _file_system(url)
    with fs.open(root, "rb") as source, open(local_path, "wb") as target:
        shutil.copyfileobj(source, target)


def open_for_writing(url: str) -> IO[bytes]:
    """A stream that writes the object at url; object stores publish it only once closed whole."""
    fs, root = _file_system(url)
    return fs.open(root, "wb")


def make_folder(path: str) -> None:
    if is_url(path):
        fs, root = _file_system(path)
        fs.makedirs(root, exist_ok=True)
    else:
        os.makedirs(path, exist_ok=True)


def readable(path: str) -> tuple[str, Any]:
    """(path, file system) as pyarrow's readers take them: the file system None for a local path."""
    if is_url(path):
        fs, root = _file_system(path)
        return root, fs
    return path, None
