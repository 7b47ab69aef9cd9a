"""pandoc's `-f html -t gfm` on the corpus's spine documents, beside quirelo's gfm flavour.

Prints MB/s of input for both over the same documents in this run (pandoc's time includes
one process start per document, as a user converting documents would pay it). Skipped,
saying so, when pandoc is not on PATH or the corpus is absent.
"""
from __future__ import annotations

import os
import shutil
import subprocess
import sys
import time

import quirelo
from bench_corpus import CORPUS, corpus_paths


def spine_documents(book: quirelo.EpubBook) -> list[bytes]:
    documents = []
    for idref, _linear in book.get_spine():
        item = book.get_item_with_id(idref)
        if item is not None and item.get_type() == quirelo.ITEM_DOCUMENT:
            documents.append(item.get_content())
    return documents


def main() -> int:
    pandoc = shutil.which("pandoc")
    if pandoc is None:
        print("skipped: pandoc is not on PATH (install it to compare `pandoc -f html -t gfm`)")
        return 0
    if not os.path.isdir(CORPUS):
        print(f"skipped: no corpus at {CORPUS}")
        return 0
    paths = corpus_paths()
    books = [quirelo.read_epub(path) for path in paths]
    documents = [document for book in books for document in spine_documents(book)]
    size = sum(len(document) for document in documents)
    start = time.perf_counter()
    for book in books:
        quirelo.to_markdown(book, flavor="gfm")
    ours = time.perf_counter() - start
    start = time.perf_counter()
    for document in documents:
        subprocess.run([pandoc, "-f", "html", "-t", "gfm"], input=document, capture_output=True, check=False)
    theirs = time.perf_counter() - start
    megabytes = size / 1e6
    print(f"corpus: {len(documents)} spine documents of {len(books)} books, {megabytes:.2f} MB")
    print(f"quirelo gfm        {megabytes / ours:10.1f} MB/s")
    print(f"pandoc -t gfm      {megabytes / theirs:10.1f} MB/s   ({theirs / ours:.0f}x quirelo's time)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
