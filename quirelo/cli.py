"""The quirelo command line: inspect, check and convert EPUB books."""
from __future__ import annotations

import argparse
import html
import os
import sys
import time
from collections import Counter
from collections.abc import Iterator, Sequence
from typing import Union

from . import _quirelo
from .io import read_epub, read_epubs
from .item_types import ItemType

EXIT_OK, EXIT_ISSUES, EXIT_ERROR = 0, 1, 2


class CommandError(Exception):
    """A failure that names the file and the reason; printed, never a traceback."""


def _fail(path: str, reason: object) -> CommandError:
    return CommandError(f"{path}: {reason}")


def _read(path: str) -> _quirelo.EpubBook:
    try:
        return read_epub(path)
    except (ValueError, OSError) as error:
        raise _fail(path, error) from None


def _first(book: _quirelo.EpubBook, name: str) -> str | None:
    values = book.get_metadata("DC", name)
    return values[0][0] if values else None


def _walk_toc(entries: Sequence[_quirelo.TocEntry]) -> Iterator[tuple[int, _quirelo.TocEntry]]:
    stack = [(0, entry) for entry in reversed(entries)]
    while stack:
        depth, entry = stack.pop()
        yield depth, entry
        stack.extend((depth + 1, child) for child in reversed(entry.children))


def _spine_documents(book: _quirelo.EpubBook) -> Iterator[_quirelo.EpubItem]:
    for idref, _linear in book.get_spine():
        item = book.get_item_with_id(idref)
        if item is not None and item.get_type() == ItemType.DOCUMENT:
            yield item


def command_info(args: argparse.Namespace) -> int:
    book = _read(args.book)
    counts = Counter(ItemType(item.get_type()).name.lower() for item in book.get_items())
    authors = [value for value, _ in book.get_metadata("DC", "creator")]
    lines = [
        f"title:       {_first(book, 'title') or '-'}",
        f"authors:     {', '.join(authors) if authors else '-'}",
        f"language:    {_first(book, 'language') or '-'}",
        f"identifier:  {_first(book, 'identifier') or '-'}",
        f"items:       {sum(counts.values())}"
        + (" (" + ", ".join(f"{name} {count}" for name, count in sorted(counts.items())) + ")" if counts else ""),
        f"spine:       {len(book.get_spine())}",
        f"toc entries: {sum(1 for _ in _walk_toc(book.toc))}",
    ]
    print("\n".join(lines))
    return EXIT_OK


def command_toc(args: argparse.Namespace) -> int:
    book = _read(args.book)
    for depth, entry in _walk_toc(book.toc):
        target = f"  ({entry.href})" if entry.href else ""
        print(f"{'  ' * depth}{entry.title}{target}")
    return EXIT_OK


def command_validate(args: argparse.Namespace) -> int:
    status = EXIT_OK
    for path in args.books:
        try:
            issues = _read(path).validate()
        except CommandError as error:
            print(f"quirelo: {error}", file=sys.stderr)
            status = EXIT_ERROR
            continue
        if issues:
            status = max(status, EXIT_ISSUES)
            print(f"{path}: {len(issues)} issue{'s' if len(issues) != 1 else ''}")
            for issue in issues:
                print(f"  - {issue}")
        else:
            print(f"{path}: ok")
    return status


def command_text(args: argparse.Namespace) -> int:
    book = _read(args.book)
    texts = (item.get_text() for item in _spine_documents(book))
    # get_text leaves character references as written; readers of plain text want them decoded.
    print("\n\n".join(html.unescape(text) for text in texts if text))
    return EXIT_OK


def _write_text(path: str, text: str) -> None:
    temporary = f"{path}.partial"
    with open(temporary, "w", encoding="utf-8") as out:
        out.write(text)
    os.replace(temporary, path)


def command_markdown(args: argparse.Namespace) -> int:
    markdown = _read(args.book).to_markdown()
    if args.output:
        try:
            _write_text(args.output, markdown)
        except OSError as error:
            raise _fail(args.output, error.strerror or error) from None
    else:
        sys.stdout.write(markdown)
        if not markdown.endswith("\n"):
            sys.stdout.write("\n")
    return EXIT_OK


def find_books(sources: Sequence[str]) -> list[str]:
    """The .epub files among sources: files as given, folders searched recursively."""
    books = []
    for source in sources:
        if os.path.isdir(source):
            found: list[str] = []
            for folder, _dirs, files in os.walk(source):
                found.extend(os.path.join(folder, name) for name in files if name.lower().endswith(".epub"))
            books.extend(sorted(found))
        else:
            books.append(source)
    return books


def _output_names(books: Sequence[str]) -> list[str]:
    """One Markdown file name per book; books with the same stem get numbered names."""
    used: Counter[str] = Counter()
    names = []
    for book in books:
        stem = os.path.splitext(os.path.basename(book))[0] or "book"
        used[stem] += 1
        names.append(f"{stem}.md" if used[stem] == 1 else f"{stem}-{used[stem]}.md")
    return names


Outcome = Union[_quirelo.EpubBook, Exception]


def _read_chunk(chunk: Sequence[str], workers: int | None) -> list[tuple[str, Outcome]]:
    """(path, book or error) per path; one bad book never hides the others."""
    try:
        return list(zip(chunk, read_epubs(chunk, workers=workers)))
    except ValueError:
        # The batch reports only its first failure: read this chunk one by one instead.
        outcomes: list[tuple[str, Outcome]] = []
        for path in chunk:
            try:
                outcomes.append((path, read_epub(path)))
            except ValueError as error:
                outcomes.append((path, error))
        return outcomes


def command_convert(args: argparse.Namespace) -> int:
    from tqdm import tqdm

    books = find_books(args.sources)
    if not books:
        raise CommandError("no .epub files found")
    try:
        os.makedirs(args.output, exist_ok=True)
    except OSError as error:
        raise _fail(args.output, error.strerror or error) from None
    names = dict(zip(books, _output_names(books)))
    started = time.monotonic()
    converted = failed = 0
    progress = tqdm(total=len(books), unit="book", file=sys.stderr, disable=not sys.stderr.isatty(),
                    dynamic_ncols=True)
    with progress:
        for start in range(0, len(books), args.chunk):
            chunk = books[start:start + args.chunk]
            for path, outcome in _read_chunk(chunk, args.workers):
                if isinstance(outcome, Exception):
                    failed += 1
                    progress.write(f"quirelo: {path}: {outcome}", file=sys.stderr)
                else:
                    try:
                        _write_text(os.path.join(args.output, names[path]), outcome.to_markdown())
                        converted += 1
                    except OSError as error:
                        failed += 1
                        progress.write(f"quirelo: {path}: {error}", file=sys.stderr)
                progress.update(1)
    elapsed = time.monotonic() - started
    rate = converted / elapsed if elapsed > 0 else float(converted)
    print(f"converted {converted} of {len(books)} books to {args.output} in {elapsed:.1f} s "
          f"({rate:.1f} books/s), {failed} failed", file=sys.stderr)
    return EXIT_OK if failed == 0 else EXIT_ISSUES


def command_dataset(args: argparse.Namespace) -> int:
    from .dataset import write_dataset

    summary = write_dataset(args.sources, args.output, scheduler=args.scheduler, workers=args.workers,
                            progress=sys.stderr.isatty())
    print(summary.describe(), file=sys.stderr)
    return EXIT_OK if summary.failed == 0 else EXIT_ISSUES


def _positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="quirelo", description="Inspect, check and convert EPUB books.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    info = commands.add_parser("info", help="title, authors, language, identifier and contents of a book")
    info.add_argument("book")
    info.set_defaults(run=command_info)

    toc = commands.add_parser("toc", help="the table of contents as an indented tree")
    toc.add_argument("book")
    toc.set_defaults(run=command_toc)

    validate = commands.add_parser("validate", help="report issues; exit status 1 when any book has issues")
    validate.add_argument("books", nargs="+", metavar="BOOK")
    validate.set_defaults(run=command_validate)

    text = commands.add_parser("text", help="plain text of the spine documents")
    text.add_argument("book")
    text.set_defaults(run=command_text)

    markdown = commands.add_parser("markdown", help="the whole book as Markdown")
    markdown.add_argument("book")
    markdown.add_argument("-o", "--output", metavar="FILE", help="write to FILE instead of standard output")
    markdown.set_defaults(run=command_markdown)

    convert = commands.add_parser("convert", help="many books to one Markdown file each")
    convert.add_argument("sources", nargs="+", metavar="DIR_OR_FILE")
    convert.add_argument("-o", "--output", required=True, metavar="OUTDIR")
    convert.add_argument("--workers", type=int, default=None, help="reader threads (default: one per processor)")
    convert.add_argument("--chunk", type=_positive, default=64, help="books read per batch (default 64)")
    convert.set_defaults(run=command_convert)

    dataset = commands.add_parser("dataset", help="a Parquet dataset with one row per book (needs dask, pyarrow)")
    dataset.add_argument("sources", nargs="+", metavar="DIR_OR_FILE")
    dataset.add_argument("-o", "--output", required=True, metavar="OUT.parquet")
    dataset.add_argument("--scheduler", metavar="ADDRESS", help="a Dask scheduler (default: a local cluster)")
    dataset.add_argument("--workers", type=_positive, default=None, help="local worker processes")
    dataset.set_defaults(run=command_dataset)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        status = args.run(args)
        sys.stdout.flush()
        return status
    except CommandError as error:
        print(f"quirelo: {error}", file=sys.stderr)
        return EXIT_ERROR
    except KeyboardInterrupt:
        print("quirelo: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # Output piped into a command that stopped reading (e.g. head): not an error.
        # Point stdout at /dev/null so the interpreter's final flush stays quiet.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
        return EXIT_OK
