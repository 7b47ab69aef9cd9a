"""The Parquet dataset, on a local Dask cluster and in one process."""
import os

import pytest

from conftest import SANITIZED, killed_once, python, write_books

if SANITIZED:
    pytest.skip("pure-Python cluster work; covered by the normal run", allow_module_level=True)
pytest.importorskip("pyarrow")
pytest.importorskip("dask.distributed")

from dask.distributed import WorkerPlugin  # noqa: E402

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


def test_chapter_rows_and_resume_keeps_only_parts_of_the_same_shape(tmp_path, cluster_client):
    [good] = write_books(tmp_path / "books", ["good"])
    (tmp_path / "books" / "bad.epub").write_bytes(b"not an epub")
    out = str(tmp_path / "out")

    def write(rows, flavor, resume=True):
        return dataset.write_dataset([tmp_path / "books"], out, client=cluster_client, resume=resume, rows=rows,
                                     flavor=flavor)

    summary = write("chapter", "gfm", resume=False)
    assert (summary.books, summary.failed, summary.chapters) == (2, 1, 1)
    assert summary.bytes_read == sum(path.stat().st_size for path in (tmp_path / "books").iterdir())
    assert summary.describe().startswith("wrote 2 books (1 chapter rows) to ")
    rows = {os.path.basename(row["path"]): row for row in dataset.read_dataset(out, "chapter", "gfm").to_pylist()}
    assert rows["bad.epub"]["error"].startswith("ZIP error: ") and rows["bad.epub"]["position"] is None
    [result] = quirelo.convert_many([good], summary=True, flavor="gfm", chapters=True)
    [chapter] = result.chapters
    assert rows["good.epub"] == {"identifier": result.summary["identifier"], "path": good, **chapter, "error": None}
    # The same shape keeps every part; another flavour, then another row kind, recompute them.
    assert [write(*shape).skipped for shape in [("chapter", "gfm"), ("chapter", "exact"), ("book", "exact"),
                                                 ("book", "exact")]] == [2, 0, 0, 2]
    [row] = [row for row in dataset.read_dataset(out).to_pylist() if row["path"] == good]
    assert (row["error"], row["authors"], row["items_document"], row["items_navigation"], row["spine_length"],
            row["toc_size"], row["issues"], row["size_bytes"]) == (None, ["Ann"], 1, 1, 1, 1, [], os.path.getsize(good))
    # Title, heading, paragraph: tags stripped and references decoded.
    assert (row["text"], row["markdown"]) == ("c Hithere & back", "# good\n\n**Ann**\n\n---\n\n# Hi\n\nthere & back")
    with pytest.raises(ValueError, match="unknown row kind 'page'"):
        dataset.schema("page")


class FailPartitionsWith(WorkerPlugin):
    """Fails every task converting a book whose path has marker, as a dying worker does."""

    name = "fail-partitions"

    def __init__(self, marker):
        self.marker = marker

    def setup(self, worker):
        self.real = dataset._convert_partition
        dataset._convert_partition = lambda paths, *shape: self.real(paths, *shape) if not any(
            self.marker in path for path in paths) else (_ for _ in ()).throw(RuntimeError("the task died"))

    def teardown(self, worker):
        dataset._convert_partition = self.real


def test_a_book_that_takes_its_task_down_becomes_an_error_row(tmp_path, cluster_client):
    # A worker that dies (KilledWorker) takes the same way; killing real workers makes a
    # flaky test, as Dask now and then never restarts them.
    folder = tmp_path / "books"
    write_books(folder, ["a", "deadly", "z"])
    cluster_client.register_plugin(FailPartitionsWith("deadly"))
    try:
        summary = dataset.write_dataset([folder], str(tmp_path / "out"), client=cluster_client)
    finally:
        cluster_client.unregister_worker_plugin(FailPartitionsWith.name)
    assert (summary.books, summary.failed) == (3, 1)
    rows = {os.path.basename(row["path"]): row for row in dataset.read_dataset(str(tmp_path / "out")).to_pylist()}
    assert rows["deadly.epub"]["error"] == "the task died"
    assert rows["a.epub"]["title"] == "a" and rows["z.epub"]["error"] is None


def test_unwritable_part_stops_the_run_naming_it(tmp_path, cluster_client):
    write_books(tmp_path, ["good"])
    blocked = tmp_path / "out" / "part-00000.parquet"
    blocked.mkdir(parents=True)  # a folder where the part should go: renaming over it fails
    with pytest.raises(OSError) as raised:
        dataset.write_dataset([tmp_path / "good.epub"], str(tmp_path / "out"), client=cluster_client)
    assert raised.value.filename == str(blocked) and raised.value.strerror
    assert os.listdir(tmp_path / "out") == ["part-00000.parquet"]  # no temporary file left


RUN = """
import sys
from quirelo import dataset
print(dataset.write_dataset(sys.argv[1:2], sys.argv[2], partition_size=2, workers=1,
                            resume=bool(sys.argv[3:])).describe())
"""


def test_killed_run_resumes_to_the_uninterrupted_rows(tmp_path):
    folder = tmp_path / "books"
    write_books(folder, [f"b{index:02d}" for index in range(16)], paragraphs=2000)
    out = tmp_path / "out"
    killed_once(out, 2, "-c", RUN, folder, out)
    kept = sorted(name for name in os.listdir(out) if name.startswith("part-"))
    assert 0 < len(kept) < 8, "the run ended before it could be killed"
    resumed = python("-c", RUN, folder, out, "resume")
    assert resumed.returncode == 0, resumed.stderr
    assert f"{2 * len(kept)} skipped" in resumed.stdout
    assert sorted(os.listdir(out)) == [f"part-{index:05d}.parquet" for index in range(8)]
    assert _rows(dataset.read_dataset(str(out))) == _rows(dataset.book_table(dataset.find_books([folder])))
