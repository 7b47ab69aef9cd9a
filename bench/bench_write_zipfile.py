"""_write_epub_bytes over the corpus against Python's zipfile writing the same entries
(mimetype stored, everything else DEFLATE level 6, into a BytesIO), measured in the same run.

Every book is read eagerly first (not timed). The zipfile side gets the generated package,
container and navigation documents for free: it writes the entries of our own archive.

    PYTHONPATH=. python3 bench/bench_write_zipfile.py [--rounds 5]
"""
import argparse
import io
import os
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)

from bench_corpus import CORPUS, best_of, corpus_paths  # noqa: E402
from quirelo import _quirelo  # noqa: E402

GOAL = 2.0


def archive_entries(archive):
    with zipfile.ZipFile(io.BytesIO(archive)) as opened:
        return [(info.filename, opened.read(info)) for info in opened.infolist()]


def write_with_zipfile(entries):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            if name == "mimetype":
                archive.writestr(info, data, compress_type=zipfile.ZIP_STORED)
            else:
                archive.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=6)
    return buffer.getvalue()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    if not os.path.isdir(CORPUS):
        print(f"skipped: no corpus at {CORPUS}")
        return
    paths = corpus_paths()
    books = [_quirelo._read_epub(path) for path in paths]
    entries = [archive_entries(_quirelo._write_epub_bytes(book)) for book in books]
    size = sum(len(data) for book in entries for _, data in book)
    ours_bytes = sum(len(_quirelo._write_epub_bytes(book)) for book in books)
    theirs_bytes = sum(len(write_with_zipfile(book)) for book in entries)

    ours = best_of(args.rounds, lambda: [_quirelo._write_epub_bytes(book) for book in books])
    theirs = best_of(args.rounds, lambda: [write_with_zipfile(book) for book in entries])
    ratio = theirs / ours
    print(f"{len(books)} books, {sum(map(len, entries))} entries, {size / 1e6:.1f} MB uncompressed, "
          f"best of {args.rounds}")
    print(f"zipfile level 6      {size / 1e6 / theirs:8.1f} MB/s  {theirs * 1e3:8.1f} ms  {theirs_bytes / 1e6:6.2f} MB out")
    print(f"_write_epub_bytes    {size / 1e6 / ours:8.1f} MB/s  {ours * 1e3:8.1f} ms  {ours_bytes / 1e6:6.2f} MB out")
    print(f"speed-up over zipfile {ratio:.2f}x (goal: at least {GOAL:.0f}x){'' if ratio >= GOAL else '  BELOW GOAL'}")


if __name__ == "__main__":
    main()
