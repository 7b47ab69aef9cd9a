"""Many Python threads on one book: the same results as one thread, and borrow conflicts
only as RuntimeError "Already borrowed" / "Already mutably borrowed"."""
import collections
import io
import re
import threading
import time
import zipfile

import pytest

import _quirelo
import hostile_books as hb
from conftest import run_threads

CONFLICTS = {"Already borrowed", "Already mutably borrowed"}
MODIFIED = re.compile(rb'<meta property="dcterms:modified">[^<]*</meta>')


def threaded_book() -> bytes:
    """The small book with more chapters and an image, so that loads take a while."""
    files = hb.with_items([(f"ch{i}", f"ch{i}.xhtml", "application/xhtml+xml", None) for i in range(12)]
                          + [("img", "img.png", "image/png", None)], spine=["c1"] + [f"ch{i}" for i in range(12)])
    for i in range(12):
        paragraphs = "".join(f"<p>Chapter {i}, paragraph {n}: <em>text</em> &amp; more.</p>" for n in range(300))
        files[f"OEBPS/ch{i}.xhtml"] = hb.chapter_xhtml(f"<h1>Chapter {i}</h1>{paragraphs}")
    files["OEBPS/img.png"] = bytes(range(256)) * 64
    return hb.epub(files)


DATA = threaded_book()


def archive_entries(written):
    """Entry name -> bytes; the package document without its (time-dependent) modification time."""
    archive = zipfile.ZipFile(io.BytesIO(written))
    return {name: MODIFIED.sub(b"", archive.read(name)) for name in archive.namelist()}


def snapshot(book):
    """Everything the hammering threads compute, from one thread."""
    items = book.get_items()
    return {"ids": [item.get_id() for item in items], "markdown": book.to_markdown(),
            "contents": {item.get_id(): item.get_content() for item in items},
            "texts": {item.get_id(): item.get_text() for item in items},
            "written": archive_entries(_quirelo._write_epub_bytes(book))}


EXPECTED = snapshot(_quirelo._read_epub_bytes(DATA, lazy=True))


@pytest.mark.parametrize("round_", range(4))
def test_eight_threads_on_one_lazy_book(round_):
    book = _quirelo._read_epub_bytes(DATA, lazy=True)  # fresh: first loads race

    def hammer(index):
        items = book.get_items()
        for step in range(len(items)):  # each thread starts at another item, so first loads meet
            item = items[(index + step) % len(items)]
            assert item.get_content() == EXPECTED["contents"][item.get_id()]
            assert item.get_text() == EXPECTED["texts"][item.get_id()]
        for _ in range(3):
            assert book.to_markdown() == EXPECTED["markdown"]
            assert archive_entries(_quirelo._write_epub_bytes(book)) == EXPECTED["written"]
            assert [item.get_id() for item in book.get_items()] == EXPECTED["ids"]

    run_threads(hammer, 8)


class SlowSequence(list):
    """Content whose conversion runs Python code that sleeps, so that other threads run
    while a mutating method holds the book's exclusive borrow."""

    def __iter__(self):
        for value in super().__iter__():
            time.sleep(0.0002)
            yield value


def test_mutations_between_readers_conflict_only_by_borrow_errors():
    book = _quirelo._read_epub_bytes(DATA, lazy=True)
    stop, read_done, lock = threading.Event(), threading.Event(), threading.Lock()
    seen, added, titles, mutators = collections.Counter(), {}, {"Small"}, [2]

    def attempt(who, action, record):
        try:
            action()
            outcome = None
        except RuntimeError as error:
            outcome = f"{who}: {error}"
        with lock:
            seen[outcome or record()] += 1

    def mutate(index):
        try:
            for n in range(25):
                payload, item_id, title = bytes([index, n]) * 10, f"x{index}_{n}", f"T{index}_{n}"
                attempt("mutator", lambda: book.add_item_raw(item_id, item_id + ".bin", "application/octet-stream",
                                                             SlowSequence(payload), 0),
                        lambda: added.setdefault(item_id, payload) and "added")
                attempt("mutator", lambda: book.set_title(title), lambda: titles.add(title) or "titled")
                read_done.wait(timeout=5)  # let a reader through before the next round, however slow the build
                read_done.clear()
        finally:
            with lock:
                mutators[0] -= 1
                if not mutators[0]:
                    stop.set()

    def read_once():
        items = {item.get_id(): item for item in book.get_items()}
        for item_id in EXPECTED["ids"]:
            assert items[item_id].get_content() == EXPECTED["contents"][item_id]
        # The title heads the Markdown; the rest cannot change.
        assert book.to_markdown().split("\n", 1)[1] == EXPECTED["markdown"].split("\n", 1)[1]
        written = archive_entries(_quirelo._write_epub_bytes(book))
        for name, data in EXPECTED["written"].items():
            assert name == "EPUB/content.opf" or written[name] == data
        book.validate()
        read_done.set()

    def read(index):
        while not stop.is_set():
            attempt("reader", read_once, lambda: "read")
            time.sleep(0.0005)

    run_threads(lambda index: mutate(index) if index < 2 else read(index), 6)
    items = {item.get_id(): item.get_content() for item in book.get_items()}
    assert set(items) == set(EXPECTED["ids"]) | set(added)
    assert all(items[item_id] == payload for item_id, payload in added.items())
    assert book.get_metadata("DC", "title")[0][0] in titles
    # Conflicts only as borrow errors, in both ways, and not everything conflicted.
    assert {key.split(": ", 1)[1] for key in seen if ": " in key} == CONFLICTS, seen
    assert seen["added"] and seen["read"], seen
    assert seen["reader: Already mutably borrowed"] and seen["mutator: Already borrowed"], seen


def test_read_epubs_from_several_threads(tmp_path):
    paths = [str(tmp_path / f"b{i}.epub") for i in range(5)]
    for path, data in zip(paths, [DATA, hb.small_book(), hb.small_book(hb.STORED), DATA, DATA[: len(DATA) // 2]]):
        open(path, "wb").write(data)
    paths, broken = paths[:4], paths[4]

    def signature(book):
        return repr(book), {item.get_id(): item.get_content() for item in book.get_items()}, book.to_markdown()

    expected = [signature(_quirelo._read_epub(path)) for path in paths]

    def read_many(index):
        for round_ in range(6):
            workers = None if (index + round_) % 2 else 2  # the shared pool, or one of its own
            assert [signature(book) for book in _quirelo._read_epubs(paths, workers=workers)] == expected
            with pytest.raises(ValueError, match="^ZIP error: "):
                _quirelo._read_epubs(paths[:1] + [broken] + paths[1:], workers=workers)

    run_threads(read_many, 4)
