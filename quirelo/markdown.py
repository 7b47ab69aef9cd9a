"""A book as Markdown, in either flavour.

``exact`` is ``EpubBook.to_markdown()``: a fixed, byte-exact conversion that keeps only a
few tags. ``gfm`` is GitHub Flavored Markdown with the book's structure: YAML front
matter, headings, nested lists and quotations, pipe tables, fenced code, images,
footnotes and links between the book's own documents.
"""
from __future__ import annotations

from typing import Literal

from . import _quirelo

MarkdownFlavor = Literal["exact", "gfm"]
MARKDOWN_FLAVORS: tuple[MarkdownFlavor, ...] = ("exact", "gfm")


def to_markdown(book: _quirelo.EpubBook, flavor: MarkdownFlavor = "exact") -> str:
    """The whole book as Markdown in the given flavour ("exact" or "gfm")."""
    if flavor == "exact":
        return book.to_markdown()
    if flavor == "gfm":
        return book._to_gfm()
    raise ValueError(f"unknown Markdown flavor {flavor!r}: expected one of {', '.join(MARKDOWN_FLAVORS)}")
