"""quirelo: read, edit, validate and write EPUB books; turn them into text and Markdown.

The work is done by the native module ``quirelo._quirelo``; this package adds named
item types, path-friendly functions and helpers for building books.
"""
from __future__ import annotations

from ._quirelo import EpubBook, EpubItem, TocEntry
from .build import (
    add_chapter,
    add_file,
    add_image,
    add_stylesheet,
    guess_media_type,
    new_book,
    set_spine,
    set_toc,
)
from .convert import BookResult, convert_many, iter_convert
from .io import read_epub, read_epub_bytes, read_epubs, write_epub, write_epub_bytes
from .item_types import (
    ITEM_AUDIO,
    ITEM_COVER,
    ITEM_DOCUMENT,
    ITEM_FONT,
    ITEM_IMAGE,
    ITEM_MEDIA_OVERLAY,
    ITEM_NAVIGATION,
    ITEM_OTHER,
    ITEM_SCRIPT,
    ITEM_STYLE,
    ITEM_VECTOR_IMAGE,
    ITEM_VIDEO,
    ItemType,
)
from .markdown import MARKDOWN_FLAVORS, to_markdown

__version__ = "0.1.0"

__all__ = [
    "EpubBook", "EpubItem", "TocEntry", "ItemType",
    "ITEM_OTHER", "ITEM_IMAGE", "ITEM_STYLE", "ITEM_SCRIPT", "ITEM_NAVIGATION", "ITEM_VECTOR_IMAGE",
    "ITEM_FONT", "ITEM_VIDEO", "ITEM_AUDIO", "ITEM_DOCUMENT", "ITEM_COVER", "ITEM_MEDIA_OVERLAY",
    "read_epub", "read_epub_bytes", "read_epubs", "write_epub", "write_epub_bytes",
    "new_book", "add_chapter", "add_image", "add_stylesheet", "add_file", "guess_media_type",
    "set_spine", "set_toc", "convert_many", "iter_convert", "BookResult", "to_markdown", "MARKDOWN_FLAVORS",
]
