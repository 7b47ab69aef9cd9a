"""The Parquet dataset, on a local Dask cluster and in one process."""
import os

import pytest

from conftest import SANITIZED

if SANITIZED:
    pytest.skip("pure-Python cluster work; covered by the normal run", allow_module_level=True)
pytest.importorskip("pyarrow")
pytest.importorskip("dask.distributed")

import pyarrow as pa  # noqa: E402

import quirelo  # noqa: E402
from quirelo import dataset  # noqa: E402


@pytest.fixture(scope="module")
def cluster_client():
    from dask.distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            yield client


def _rows(table):
    return sorted(table.to_pylist(), key=lambda row: row["path"])


def test_cluster_rows_equal_single_process_rows(tmp_path, corpus, cluster_client):
    out = tmp_path / "corpus.parquet"
    summary = dataset.write_dataset(corpus, str(out), client=cluster_client, partition_size=5)
    assert summary.books == len(corpus) and summary.failed == 0
    written = dataset.read_dataset(str(out))
    assert written.schema.equals(dataset.schema())
    assert _rows(written) == _rows(dataset.book_table(corpus))


def test_bad_book_gives_error_row(tmp_path, cluster_client):
    good = tmp_path / "books" / "good.epub"
    good.parent.mkdir()
    book = quirelo.new_book("Good", identifier="urn:test:good", authors=["Ann"])
    chapter = quirelo.add_chapter(book, "c.xhtml", "<h1>Hi</h1><p>there &amp; back</p>")
    quirelo.set_spine(book, [chapter])
    quirelo.set_toc(book, [("Hi", "c.xhtml")])
    quirelo.write_epub(good, book)
    (tmp_path / "books" / "bad.epub").write_bytes(b"not an epub")
    out = tmp_path / "out.parquet"
    summary = dataset.write_dataset([str(tmp_path / "books")], str(out), client=cluster_client)
    assert (summary.books, summary.failed) == (2, 1)
    rows = {os.path.basename(row["path"]): row for row in dataset.read_dataset(str(out)).to_pylist()}
    assert rows["bad.epub"]["error"].startswith("ZIP error: ") and rows["bad.epub"]["title"] is None
    good_row = rows["good.epub"]
    assert good_row["error"] is None and good_row["title"] == "Good" and good_row["authors"] == ["Ann"]
    assert good_row["items_document"] == 1 and good_row["items_navigation"] == 1 and good_row["items"] == 2
    assert good_row["spine_length"] == 1 and good_row["toc_size"] == 1
    assert good_row["text"] == "c Hithere & back"  # title, heading, paragraph: tags stripped as written and good_row["markdown"].startswith("# Good\n\n**Ann**")
    assert good_row["issues"] == [] and good_row["size_bytes"] == good.stat().st_size


def test_schema_is_documented_shape():
    fields = dict(zip(dataset.schema().names, dataset.schema().types))
    assert fields["authors"] == pa.list_(pa.string()) and fields["issues"] == pa.list_(pa.string())
    assert [n for n in fields if n.startswith("items_")] == dataset.ITEM_COLUMNS
    assert len(dataset.ITEM_COLUMNS) == 12
