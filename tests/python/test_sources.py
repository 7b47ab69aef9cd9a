"""Books and outputs at URLs, through fsspec's in-memory file system: finding, sizing,
reading, converting and writing a dataset part go through the one module that speaks to
fsspec."""
import pytest

import quirelo
from conftest import simple_book
from quirelo import convert, sources

fsspec = pytest.importorskip("fsspec")


@pytest.fixture
def shelf():
    fs = fsspec.filesystem("memory")
    data = quirelo.write_epub_bytes(simple_book("Remote"))
    for name, content in [("a.epub", data), ("sub/B.EPUB", data), ("notes.txt", b"x"), ("bad.epub", b"PK")]:
        fs.pipe(f"/quirelo-shelf/{name}", content)
    yield data
    fs.rm("/quirelo-shelf", recursive=True)
    if fs.exists("/quirelo-out"):
        fs.rm("/quirelo-out", recursive=True)


def test_books_at_urls_are_found_read_and_converted(shelf, tmp_path):
    books = sources.find_books(["memory://quirelo-shelf"])
    assert books == [f"memory:///quirelo-shelf/{name}" for name in ("a.epub", "bad.epub", "sub/B.EPUB")]
    assert (sources.book_size(books[0]), sources.book_size(books[0], remote=True)) == (None, len(shelf))
    assert sources.read_book(books[0]).get_metadata("DC", "title")[0][0] == "Remote"
    local = tmp_path / "local.epub"
    local.write_bytes(shelf)
    paths = [books[1], str(local), books[0], "memory:///quirelo-shelf/missing.epub"]
    results = convert.in_input_order(convert.iter_books(paths, markdown=True, workers=1), len(paths))
    assert [result.path for result in results] == paths
    assert results[1].markdown == results[2].markdown == simple_book("Remote").to_markdown()
    assert isinstance(results[0].error, ValueError) and isinstance(results[3].error, FileNotFoundError)


def test_dataset_parts_at_urls(shelf):
    dataset = pytest.importorskip("quirelo.dataset")
    books = sources.find_books(["memory://quirelo-shelf"])
    sources.make_folder("memory://quirelo-out")
    summary = dataset.write_table(dataset.book_table(books), "memory://quirelo-out/part-00000.parquet")
    assert (summary.rows, summary.failed) == (3, 1)
    table = dataset.read_dataset("memory://quirelo-out")
    assert table.column("path").to_pylist() == books
    assert table.column("title").to_pylist() == ["Remote", None, "Remote"]
