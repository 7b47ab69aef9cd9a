"""The quirelo command line: inspect, check and convert EPUB books."""
from __future__ import annotations

import argparse
import contextlib
import os
import sys
import time
from collections.abc import Iterator, Sequence
from typing import Any

from . import _quirelo
from .convert import INTERRUPTS, ITEM_COLUMNS, BookResult, in_input_order, iter_books, reason
from .markdown import MARKDOWN_FLAVORS, to_markdown
from .output_file import remove_leftovers, write_text
from .dataset import ROW_KINDS
from .sources import find_books, read_book

EXIT_OK, EXIT_ISSUES, EXIT_ERROR = 0, 1, 2


class CommandError(Exception):
    """A failure that names the file and the reason; printed, never a traceback."""


def _fail(path: str, reason: object) -> CommandError:
    return CommandError(f"{path}: {reason}")


@contextlib.contextmanager
def _about(path: str) -> Iterator[None]:
    """Any failure while working on path becomes a CommandError naming it."""
    try:
        yield
    except (CommandError, *INTERRUPTS):
        raise
    except BaseException as error:  # noqa: BLE001 - a book may fail in any way; report it, never a traceback
        raise _fail(path, reason(error)) from None


def _read(path: str) -> _quirelo.EpubBook:
    with _about(path):
        return read_book(path)


def walk_toc(entries: Sequence[_quirelo.TocEntry]) -> Iterator[tuple[int, _quirelo.TocEntry]]:
    """(depth, entry) of every table-of-contents entry in reading order, without recursion."""
    stack = [(0, entry) for entry in reversed(entries)]
    while stack:
        depth, entry = stack.pop()
        yield depth, entry
        stack.extend((depth + 1, child) for child in reversed(entry.children))


def command_info(args: argparse.Namespace) -> int:
    [result] = _convert([args.book], workers=1, markdown=False, summary=True)
    if result.error is not None:
        raise _fail(args.book, reason(result.error))
    summary = result.summary or {}
    counts = {column.removeprefix("items_"): summary[column] for column in ITEM_COLUMNS if summary[column]}
    lines = [
        f"title:       {summary['title'] or '-'}",
        f"authors:     {', '.join(summary['authors']) or '-'}",  # type: ignore[arg-type]
        f"language:    {summary['language'] or '-'}",
        f"identifier:  {summary['identifier'] or '-'}",
        f"items:       {summary['items']}"
        + (" (" + ", ".join(f"{name} {count}" for name, count in sorted(counts.items())) + ")" if counts else ""),
        f"spine:       {summary['spine_length']}",
        f"toc entries: {summary['toc_size']}",
    ]
    print("\n".join(lines))
    return EXIT_OK


def command_toc(args: argparse.Namespace) -> int:
    book = _read(args.book)
    for depth, entry in walk_toc(book.toc):
        target = f"  ({entry.href})" if entry.href else ""
        print(f"{'  ' * depth}{entry.title}{target}")
    return EXIT_OK


def command_validate(args: argparse.Namespace) -> int:
    status = EXIT_OK
    for path in args.books:
        try:
            with _about(path):
                issues = read_book(path).validate()
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
    [result] = _convert([args.book], workers=1, markdown=False, text=True)
    if result.error is not None:
        raise _fail(args.book, reason(result.error))
    print(result.text)
    return EXIT_OK


def _write_output(path: str, text: str) -> None:
    try:
        write_text(path, text)
    except OSError as error:
        raise _fail(path, error.strerror or error) from None


def command_markdown(args: argparse.Namespace) -> int:
    with _about(args.book):
        markdown = to_markdown(read_book(args.book), flavor=args.flavor)
    if args.output:
        _write_output(args.output, markdown)
    else:
        sys.stdout.write(markdown)
        if not markdown.endswith("\n"):
            sys.stdout.write("\n")
    return EXIT_OK


# The longest file name most file systems take, in bytes.
NAME_MAX = 255


def _cut(stem: str, limit: int) -> str:
    """stem shortened to at most limit bytes of its file-system encoding, at a character boundary."""
    data = stem.encode("utf-8", "surrogateescape")
    if len(data) <= limit:
        return stem
    cut = limit
    while cut > 0 and data[cut] & 0xC0 == 0x80:  # never split a UTF-8 sequence
        cut -= 1
    return data[:cut].decode("utf-8", "surrogateescape")


def _output_names(books: Sequence[str]) -> list[str]:
    """One Markdown file name per book, depending only on the list of books: the book's stem,
    numbered when an earlier book took the name, cut to fit NAME_MAX bytes."""
    used: set[str] = set()
    names = []
    for book in books:
        stem = os.path.splitext(os.path.basename(book))[0] or "book"
        number = 1
        while True:
            tail = ".md" if number == 1 else f"-{number}.md"
            name = _cut(stem, NAME_MAX - len(tail)) + tail
            if name not in used:
                break
            number += 1
        used.add(name)
        names.append(name)
    return names


def _convert(paths: Sequence[str], workers: int | None, **outputs: Any) -> list[BookResult]:
    """The results of a few books, in input order.

    Worker threads that cannot start stop the command: every later book would fail the same way.
    """
    try:
        return in_input_order(iter_books(paths, workers=workers, **outputs), len(paths))
    except RuntimeError as error:
        raise CommandError(str(error)) from None


class _Progress:
    """A progress bar on a terminal (tqdm, imported only then); plain messages elsewhere."""

    def __init__(self, total: int) -> None:
        self.bar = None
        if sys.stderr.isatty():
            from tqdm import tqdm

            self.bar = tqdm(total=total, unit="book", file=sys.stderr, dynamic_ncols=True)

    def write(self, message: str) -> None:
        if self.bar is not None:
            self.bar.write(message, file=sys.stderr)
        else:
            print(message, file=sys.stderr)

    def update(self) -> None:
        if self.bar is not None:
            self.bar.update(1)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def command_convert(args: argparse.Namespace) -> int:
    books = find_books(args.sources)
    if not books:
        raise CommandError("no .epub files found")
    try:
        os.makedirs(args.output, exist_ok=True)
    except OSError as error:
        raise _fail(args.output, error.strerror or error) from None
    if args.resume:
        remove_leftovers(args.output)  # temporary files of a killed run; their books are not done
    targets = [os.path.join(args.output, name) for name in _output_names(books)]
    pending = [index for index, target in enumerate(targets) if not (args.resume and os.path.exists(target))]
    skipped = len(books) - len(pending)
    started = time.monotonic()
    converted = failed = 0
    # One stream over every book: the workers convert and write each file; this thread
    # only counts and reports.
    results = iter_books([books[index] for index in pending], markdown=True, flavor=args.flavor,
                         workers=args.workers, window=args.window,
                         markdown_files=[targets[index] for index in pending])
    progress = _Progress(len(pending))
    try:
        for result in results:
            if result.error is not None:
                failed += 1
                progress.write(f"quirelo: {result.path}: {reason(result.error)}")
            else:
                converted += 1
            progress.update()
    except OSError as error:
        # A full disk or a missing folder: every later book would fail the same way.
        raise _fail(error.filename or args.output, error.strerror or error) from None
    except RuntimeError as error:
        raise CommandError(str(error)) from None
    finally:
        results.close()
        progress.close()
    elapsed = time.monotonic() - started
    rate = converted / elapsed if elapsed > 0 else float(converted)
    print(f"converted {converted} of {len(books)} books to {args.output} in {elapsed:.1f} s "
          f"({rate:.1f} books/s), {failed} failed" + (f", {skipped} skipped (already converted)" if args.resume else ""),
          file=sys.stderr)
    return EXIT_OK if failed == 0 else EXIT_ISSUES


def command_dataset(args: argparse.Namespace) -> int:
    from .dataset import write_dataset

    try:
        summary = write_dataset(args.sources, args.output, scheduler=args.scheduler, workers=args.workers,
                                progress=sys.stderr.isatty(), resume=args.resume, flavor=args.flavor,
                                rows=args.rows)
    except OSError as error:
        raise _fail(error.filename or args.output, error.strerror or error) from None
    except ValueError as error:
        raise CommandError(str(error)) from None
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
    markdown.add_argument("--flavor", choices=MARKDOWN_FLAVORS, default="exact",
                          help="exact (the default) or gfm: GitHub Flavored Markdown with the book's structure")
    markdown.set_defaults(run=command_markdown)

    convert = commands.add_parser("convert", help="many books to one Markdown file each")
    convert.add_argument("sources", nargs="+", metavar="DIR_OR_FILE")
    convert.add_argument("-o", "--output", required=True, metavar="OUTDIR")
    convert.add_argument("--workers", type=_positive, default=None,
                         help="converting threads (default: one per processor)")
    convert.add_argument("--window", "--chunk", dest="window", type=_positive, default=None,
                         help="books in flight at most (default: two per thread)")
    convert.add_argument("--flavor", choices=MARKDOWN_FLAVORS, default="exact",
                         help="the Markdown files' flavour: exact (the default) or gfm")
    convert.add_argument("--resume", action="store_true", help="skip books whose Markdown file already exists")
    convert.set_defaults(run=command_convert)

    dataset = commands.add_parser("dataset", help="a Parquet dataset with one row per book or chapter "
                                                  "(needs dask, pyarrow)")
    dataset.add_argument("sources", nargs="+", metavar="DIR_OR_FILE")
    dataset.add_argument("-o", "--output", required=True, metavar="OUT.parquet")
    dataset.add_argument("--scheduler", metavar="ADDRESS", help="a Dask scheduler (default: a local cluster)")
    dataset.add_argument("--workers", type=_positive, default=None, help="local worker processes")
    dataset.add_argument("--flavor", choices=MARKDOWN_FLAVORS, default="exact",
                         help="the flavour of the markdown column: exact (the default) or gfm")
    dataset.add_argument("--rows", choices=ROW_KINDS, default="book",
                         help="one row per book (the default) or per chapter (spine document)")
    dataset.add_argument("--resume", action="store_true",
                         help="keep the finished parts of an earlier run over the same sources")
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
