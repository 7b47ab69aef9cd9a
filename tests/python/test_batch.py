"""Parallel batch reading from Python."""
import os

import pytest

import _quirelo
from conftest import python, write_books


@pytest.fixture
def books(tmp_path):
    return write_books(tmp_path, [f"b{index}" for index in range(6)])


def titles(books):
    return [book.get_metadata("DC", "title")[0][0] for book in books]


@pytest.mark.parametrize("workers", [None, 0, 2])
def test_results_in_input_order(books, workers):
    assert _quirelo._read_epubs([]) == []
    assert titles(_quirelo._read_epubs(tuple(books[:2]), workers=workers)) == ["b0", "b1"]
    assert [len(b.toc) for b in _quirelo._read_epubs(books[2:3], ignore_nav=True, ignore_ncx=True)] == [0]
    result = _quirelo._read_epubs([books[3], books[0], books[5], books[3]], workers=workers)
    for path in books:
        os.remove(path)
    assert titles(result) == ["b3", "b0", "b5", "b3"] and [len(b.toc) for b in result] == [1] * 4
    assert [b.get_item_with_id("c").get_text() for b in result] == ["c Hithere &amp; back"] * 4
    result[0].set_title("changed")  # the same path twice gives two books
    assert titles(result[3:]) == ["b3"]


def test_first_failing_path_wins_and_nothing_partial(books, tmp_path):
    bad = tmp_path / "bad.epub"
    bad.write_bytes(b"nope")
    missing = str(tmp_path / "missing.epub")
    with pytest.raises(ValueError, match=r"^ZIP error: "):
        _quirelo._read_epubs([books[0], str(bad), books[1], missing], workers=2)
    with pytest.raises(ValueError, match=r"^IO error: No such file or directory \(os error 2\)$"):
        _quirelo._read_epubs([books[0], missing, books[1], str(bad)])


@pytest.mark.parametrize("call", [
    "_quirelo._read_epubs([fifo], workers=1)", "quirelo.convert_many([fifo], workers=1)[0].error",
], ids=["read_epubs", "convert_many"])
def test_other_threads_run_while_a_batch_reads(tmp_path, call):
    # The batch reads a FIFO, which only opens once another Python thread opens its
    # writing end; that thread needs the interpreter lock after the batch started, so the
    # call can only return if the lock was released. Run apart: a held lock would hang.
    script = """
import os, sys, threading, time
import quirelo
from quirelo import _quirelo
fifo, go = sys.argv[1], False
os.mkfifo(fifo)
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
""".replace("CALL", call)
    result = python("-c", script, tmp_path / "fifo", timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["returned: ZIP error", "writer finished"]
