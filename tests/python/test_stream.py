"""Streaming conversion (quirelo.iter_convert) and the files its workers write."""
import os
import threading

import pytest

import quirelo
from conftest import write_books
from quirelo import _pipeline
from quirelo.output_file import write_bytes


def test_a_slow_book_holds_up_only_itself(tmp_path):
    good = write_books(tmp_path, ["good"])[0]
    slow = str(tmp_path / "slow.epub")
    os.mkfifo(slow)  # its read waits until the test writes the book into the pipe
    paths = [good] * 6 + [slow] + [good] * 6
    results = quirelo.iter_convert(paths, workers=2)
    others = [next(results) for _ in range(12)]
    assert slow not in {result.path for result in others} and all(result.error is None for result in others)
    open(slow, "wb").close()  # released: an empty pipe is no archive, so it fails, but only now
    [last] = list(results)
    assert (last.index, last.path, type(last.error)) == (6, slow, ValueError)


def test_a_paused_stream_leaves_the_shared_pool_free(tmp_path):
    good = write_books(tmp_path, ["good"])[0]
    results = quirelo.iter_convert([good] * 8, window=1)
    first = next(results)
    # Its threads wait for the caller; a read on the shared pool meanwhile must not wait for them.
    assert quirelo.read_epubs([good])[0].to_markdown() == first.markdown
    assert len(list(results)) == 7


@pytest.mark.parametrize("through", ["stream", "write_bytes"])
def test_the_lock_is_released_while_files_are_written(tmp_path, through):
    source = write_books(tmp_path, ["a"])[0]
    target = str(tmp_path / "pipe.md")
    os.mkfifo(target)  # the write waits for a reader, which only a Python thread can be
    read = []
    reader = threading.Thread(target=lambda: read.append(open(target, "rb").read()), daemon=True)
    reader.start()
    if through == "stream":
        [result] = quirelo.iter_convert([source], markdown_files=[target])
        assert (result.index, result.error, result.markdown) == (0, None, None)  # the file holds it
        expected = quirelo.read_epub(source).to_markdown().encode("utf-8")
    else:
        write_bytes(target, expected := b"x" * (1 << 20))
    reader.join()
    assert read == [expected]


def test_arguments_are_checked():
    with pytest.raises(ValueError, match="one file per path"):
        _pipeline.convert_stream(["a.epub", "b.epub"], markdown_files=["a.md"])
    with pytest.raises(ValueError, match="unknown Markdown flavor 'html': expected one of exact, gfm"):
        quirelo.iter_convert([], flavor="html")
    stream = _pipeline.convert_stream([])
    assert list(stream) == [] and stream.window is None
