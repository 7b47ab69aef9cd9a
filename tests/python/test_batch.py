"""Parallel batch reading from Python."""
import os
import subprocess
import sys
import textwrap

import pytest

import _quirelo
from conftest import PACKAGE_ROOT


def make_book(title):
    book = _quirelo.EpubBook()
    book.set_identifier(f"urn:test:{title}")
    book.set_title(title)
    book.set_language("en")
    book.add_item_raw("c", "c.xhtml", "application/xhtml+xml", f"<p>{title}</p>".encode(), 9)
    book._set_spine_from_entries([("c", True)])
    return _quirelo._write_epub_bytes(book)


@pytest.fixture
def books(tmp_path):
    paths = []
    for index in range(6):
        path = tmp_path / f"b{index}.epub"
        path.write_bytes(make_book(f"Book {index}"))
        paths.append(str(path))
    return paths


@pytest.mark.parametrize("workers", [None, 0, 1, 2, 7])
def test_results_in_input_order(books, workers):
    order = [books[3], books[0], books[5], books[3]]
    result = _quirelo._read_epubs(order, workers=workers)
    assert [repr(b) for b in result] == ["EpubBook(title='Book 3')", "EpubBook(title='Book 0')",
                                         "EpubBook(title='Book 5')", "EpubBook(title='Book 3')"]
    assert result[0] is not result[3]
    result[0].set_title("changed")
    assert repr(result[3]) == "EpubBook(title='Book 3')"


def test_empty_and_tuple_inputs(books):
    assert _quirelo._read_epubs([]) == []
    assert len(_quirelo._read_epubs(tuple(books), workers=2)) == len(books)


def test_first_failing_path_wins_and_nothing_partial(books, tmp_path):
    bad = tmp_path / "bad.epub"
    bad.write_bytes(b"nope")
    missing = str(tmp_path / "missing.epub")
    with pytest.raises(ValueError, match=r"^ZIP error: "):
        _quirelo._read_epubs([books[0], str(bad), books[1], missing], workers=2)
    with pytest.raises(ValueError, match=r"^IO error: No such file or directory \(os error 2\)$"):
        _quirelo._read_epubs([books[0], missing, books[1], str(bad)])
    single = None
    try:
        _quirelo._read_epub(missing)
    except ValueError as error:
        single = str(error)
    with pytest.raises(ValueError) as batch:
        _quirelo._read_epubs([missing])
    assert str(batch.value) == single


def test_books_are_fully_loaded(books):
    result = _quirelo._read_epubs(books[:2])
    for path in books[:2]:
        os.remove(path)
    assert [b.get_item_with_id("c").get_content() for b in result] == [b"<p>Book 0</p>", b"<p>Book 1</p>"]
    assert result[1].to_markdown().endswith("Book 1")


def test_flags_reach_every_read(tmp_path):
    book = _quirelo.EpubBook()
    book.set_identifier("x")
    book.set_title("t")
    book.set_language("en")
    book.add_item_raw("c", "c.xhtml", "application/xhtml+xml", b"<p/>", 9)
    book._set_spine_from_entries([("c", True)])
    book._set_toc_from_entries([_quirelo.TocEntry("One", "c.xhtml")])
    path = tmp_path / "toc.epub"
    path.write_bytes(_quirelo._write_epub_bytes(book))
    assert [len(b.toc) for b in _quirelo._read_epubs([str(path)] * 2)] == [1, 1]
    assert [len(b.toc) for b in _quirelo._read_epubs([str(path)], ignore_nav=True, ignore_ncx=True)] == [0]


@pytest.mark.parametrize("call, returned", [
    ("_quirelo._read_epubs([fifo], workers=1)", "ZIP error"),
    ("quirelo.convert_many([fifo], workers=1)[0].error", "ZIP error"),
], ids=["read_epubs", "convert_many"])
def test_other_threads_run_while_a_batch_reads(tmp_path, call, returned):
    # The batch reads a FIFO, which only opens once another Python thread opens its
    # writing end; that thread needs the interpreter lock after the batch started, so the
    # call can only return if the lock was released. Run apart: a held lock would hang.
    script = textwrap.dedent("""
        import os, sys, threading, time
        import _quirelo, quirelo
        fifo = sys.argv[1]
        os.mkfifo(fifo)
        go = False
        def writer():
            while not go:
                pass
            time.sleep(0.05)
            open(fifo, "wb").close()
        thread = threading.Thread(target=writer)
        thread.start()
        go = True
        try:
            outcome = CALL
        except ValueError as error:
            outcome = error
        print("returned:", str(outcome).split(":")[0])
        thread.join()
        print("writer finished")
    """).replace("CALL", call)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.join(PACKAGE_ROOT, "quirelo"), PACKAGE_ROOT]))
    result = subprocess.run([sys.executable, "-c", script, str(tmp_path / "fifo")], capture_output=True,
                            text=True, timeout=60, env=env)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"returned: {returned}", "writer finished"]


def test_concurrent_batches_on_the_shared_pool(books):
    import threading

    results = {}

    def run(index):
        results[index] = [repr(b) for b in _quirelo._read_epubs(books[index:] + books[:index])]

    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for index in range(4):
        expected = [f"EpubBook(title='Book {int(os.path.basename(p)[1])}')" for p in books[index:] + books[:index]]
        assert results[index] == expected
