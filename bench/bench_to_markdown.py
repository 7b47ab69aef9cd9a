"""to_markdown from Python over the corpus, in MB/s of document input, against a plain
byte scan of the same bytes (counting "<") measured in the same run.

    PYTHONPATH=. python3 bench/bench_to_markdown.py [--rounds 5]
"""
import argparse
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)

import quirelo  # noqa: E402
from bench_corpus import CORPUS, best_of, corpus_paths  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    if not os.path.isdir(CORPUS):
        print(f"skipped: no corpus at {CORPUS}")
        return
    books = [quirelo.read_epub(path) for path in corpus_paths()]
    documents = [item.get_content() for book in books for item in book.get_items_of_type(quirelo.ITEM_DOCUMENT)]
    size = sum(len(d) for d in documents)
    scan = best_of(args.rounds, lambda: sum(d.count(b"<") for d in documents))
    convert = best_of(args.rounds, lambda: [book.to_markdown() for book in books])
    print(f"{len(books)} books, {len(documents)} documents, {size / 1e6:.1f} MB")
    print(f"byte scan ('<' count)   {size / 1e6 / scan:9.1f} MB/s")
    print(f"to_markdown (Python)    {size / 1e6 / convert:9.1f} MB/s   ratio to scan {scan / convert:.3f}")


if __name__ == "__main__":
    main()
