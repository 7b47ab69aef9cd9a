"""The quirelo command line: inspect, check and convert EPUB books."""
from __future__ import annotations

import argparse
import contextlib
import os
import sys
import time
from collections import Counter
from collections.abc import Iterator, Sequence

from . import _quirelo
from .item_types import ItemType
from .convert import BookResult
from .markdown import MARKDOWN_FLAVORS, to_markdown
from .library import INTERRUPTS, batches, convert_books, find_books, first_metadata, read_one, reason, walk_toc
from .output_file import remove_leftovers, write_text

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
        return read_one(path)


def command_info(args: argparse.Namespace) -> int:
    book = _read(args.book)
    counts = Counter(ItemType(item.get_type()).name.lower() for item in book.get_items())
    authors = [value for value, _ in book.get_metadata("DC", "creator")]
    lines = [
        f"title:       {first_metadata(book, 'title') or '-'}",
        f"authors:     {', '.join(authors) if authors else '-'}",
        f"language:    {first_metadata(book, 'language') or '-'}",
        f"identifier:  {first_metadata(book, 'identifier') or '-'}",
        f"items:       {sum(counts.values())}"
        + (" (" + ", ".join(f"{name} {count}" for name, count in sorted(counts.items())) + ")" if counts else ""),
        f"spine:       {len(book.get_spine())}",
        f"toc entries: {sum(1 for _ in walk_toc(book.toc))}",
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
                issues = read_one(path).validate()
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
        markdown = to_markdown(read_one(args.book), flavor=args.flavor)
    if args.output:
        _write_output(args.output, markdown)
    else:
        sys.stdout.write(markdown)
        if not markdown.endswith("\n"):
            sys.stdout.write("\n")
    return EXIT_OK


def _output_names(books: Sequence[str]) -> list[str]:
    """One Markdown file name per book; books with the same stem get numbered names."""
    used: Counter[str] = Counter()
    names = []
    for book in books:
        stem = os.path.splitext(os.path.basename(book))[0] or "book"
        used[stem] += 1
        names.append(f"{stem}.md" if used[stem] == 1 else f"{stem}-{used[stem]}.md")
    return names


# Archive bytes read per batch: with the reader's per-book budget this bounds what one batch
# can hold, whatever the folder.
BATCH_BYTES = 256 << 20


def _convert(paths: Sequence[str], workers: int | None, *, markdown: bool = True,
             text: bool = False) -> list[BookResult]:
    """The results of a batch of books; the one place that says how books are converted.

    Worker threads that cannot start stop the command: every later book would fail the same way.
    """
    try:
        return convert_books(paths, markdown=markdown, text=text, workers=workers)
    except RuntimeError as error:
        raise CommandError(str(error)) from None


def command_convert(args: argparse.Namespace) -> int:
    from tqdm import tqdm

    books = find_books(args.sources)
    if not books:
        raise CommandError("no .epub files found")
    try:
        os.makedirs(args.output, exist_ok=True)
    except OSError as error:
        raise _fail(args.output, error.strerror or error) from None
    if args.resume:
        remove_leftovers(args.output)  # temporary files of a killed run; their books are not done
    targets = {book: os.path.join(args.output, name) for book, name in zip(books, _output_names(books))}
    pending = [book for book in books if not (args.resume and os.path.exists(targets[book]))]
    skipped = len(books) - len(pending)
    workers = args.workers or os.cpu_count() or 1
    # A few books per reader thread keep the threads busy; more would only hold memory.
    chunk = args.chunk or 2 * workers
    started = time.monotonic()
    converted = failed = 0
    progress = tqdm(total=len(pending), unit="book", file=sys.stderr, disable=not sys.stderr.isatty(),
                    dynamic_ncols=True)
    with progress:
        for batch in batches(pending, chunk, BATCH_BYTES):
            for result in _convert(batch, args.workers):
                if result.error is not None:
                    failed += 1
                    progress.write(f"quirelo: {result.path}: {reason(result.error)}", file=sys.stderr)
                else:
                    # A full disk or a write error stops the run: every later book would fail the same way.
                    _write_output(targets[result.path], result.markdown or "")
                    converted += 1
                progress.update(1)
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
                                progress=sys.stderr.isatty(), resume=args.resume)
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
    convert.add_argument("--chunk", type=_positive, default=None,
                         help="books converted per batch (default: two per thread)")
    convert.add_argument("--resume", action="store_true", help="skip books whose Markdown file already exists")
    convert.set_defaults(run=command_convert)

    dataset = commands.add_parser("dataset", help="a Parquet dataset with one row per book (needs dask, pyarrow)")
    dataset.add_argument("sources", nargs="+", metavar="DIR_OR_FILE")
    dataset.add_argument("-o", "--output", required=True, metavar="OUT.parquet")
    dataset.add_argument("--scheduler", metavar="ADDRESS", help="a Dask scheduler (default: a local cluster)")
    dataset.add_argument("--workers", type=_positive, default=None, help="local worker processes")
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
