"""Turn a library of EPUB books into a Parquet dataset, on this machine or a Dask cluster.

One row per book (the default), or one per chapter (spine document). Each partition of books is converted on a worker by one stream of the
native pipeline, one book in flight at a time, and written by that worker as one Parquet file of
the dataset folder (whole or not at all), so the client only ever holds small summaries
and a worker one book and its partition's rows. Needs the optional dependencies dask.distributed
and pyarrow (``pip install quirelo[dataset]``); local paths and any fsspec URL work.
"""
from __future__ import annotations

import contextlib
import dataclasses
import os
import posixpath
import time
from collections.abc import Iterable, Sequence
from typing import Any

from .convert import ITEM_COLUMNS, BookResult, in_input_order, iter_books, reason
from .markdown import MARKDOWN_FLAVORS, MarkdownFlavor
from .output_file import remove_leftovers, write_bytes
from .sources import book_size, find_books, is_url, make_folder, open_for_writing, readable

# Environment of local worker processes: keep freed memory for the next book instead of
# returning it to the system after every partition.
WORKER_ENVIRONMENT = {"MALLOC_TRIM_THRESHOLD_": str(256 << 20), "MALLOC_MMAP_THRESHOLD_": str(256 << 20)}


# What a row is: a whole book, or one document of a book's spine.
ROW_KINDS = ("book", "chapter")
# Schema metadata of a part whose Markdown is not the exact flavour, so that resuming never
# keeps a part of another flavour (exact parts carry none: they stay as they always were).
FLAVOR_KEY = b"quirelo.markdown_flavor"


@dataclasses.dataclass(frozen=True)
class Shape:
    """The rows a dataset holds: their kind and the flavour of their Markdown."""

    rows: str = "book"
    flavor: MarkdownFlavor = "exact"

    def __post_init__(self) -> None:
        if self.rows not in ROW_KINDS:
            raise ValueError(f"unknown row kind {self.rows!r}: expected one of {', '.join(ROW_KINDS)}")
        if self.flavor not in MARKDOWN_FLAVORS:
            raise ValueError(f"unknown Markdown flavor {self.flavor!r}: expected one of {', '.join(MARKDOWN_FLAVORS)}")


def schema(rows: str = "book", flavor: MarkdownFlavor = "exact"):
    """The dataset's documented schema (pyarrow), for rows of that kind and flavour."""
    import pyarrow as pa

    shape = Shape(rows, flavor)
    metadata = None if shape.flavor == "exact" else {FLAVOR_KEY: shape.flavor.encode()}
    if shape.rows == "chapter":
        return pa.schema(
            [
                pa.field("identifier", pa.string()),
                pa.field("path", pa.string(), nullable=False),
                pa.field("position", pa.int32()),
                pa.field("name", pa.string()),
                pa.field("toc_title", pa.string()),
                pa.field("markdown", pa.string()),
                pa.field("text", pa.string()),
                pa.field("word_count", pa.int64()),
                pa.field("content_hash", pa.string()),
                pa.field("error", pa.string()),
            ],
            metadata=metadata,
        )
    return pa.schema(
        [
            pa.field("path", pa.string(), nullable=False),
            pa.field("size_bytes", pa.int64()),
            pa.field("identifier", pa.string()),
            pa.field("title", pa.string()),
            pa.field("authors", pa.list_(pa.string())),
            pa.field("language", pa.string()),
            pa.field("items", pa.int32()),
            *[pa.field(name, pa.int32()) for name in ITEM_COLUMNS],
            pa.field("spine_length", pa.int32()),
            pa.field("toc_size", pa.int32()),
            pa.field("issues", pa.list_(pa.string())),
            pa.field("text", pa.string()),
            pa.field("markdown", pa.string()),
            pa.field("error", pa.string()),
        ],
        metadata=metadata,
    )


def _convert_partition(paths: Sequence[str], shape: Shape = Shape()) -> list[BookResult]:
    """Everything a row needs of each book; the one place that says how books are converted."""
    # One task per worker process already uses the processors; one pipeline thread keeps a
    # single book in memory per worker, beside the outputs the partition's rows hold anyway.
    outputs: dict[str, Any]
    if shape.rows == "chapter":
        outputs = dict(markdown=False, summary=True, chapters=True)  # the summary for the identifier
    else:
        outputs = dict(markdown=True, text=True, summary=True, issues=True)
    return in_input_order(iter_books(paths, flavor=shape.flavor, workers=1, **outputs), len(paths))


def _chapter_rows(result: BookResult, columns: list[str]) -> list[dict[str, object]]:
    if result.error is not None:
        return [{**dict.fromkeys(columns), "path": result.path, "error": reason(result.error)}]
    identifier = (result.summary or {}).get("identifier")
    return [{"identifier": identifier, "path": result.path, **chapter, "error": None}
            for chapter in result.chapters or []]


def _row(result: BookResult, size: int | None) -> dict[str, object]:
    row: dict[str, object] = dict.fromkeys(schema().names)
    row.update(path=result.path, size_bytes=size)
    if result.error is not None:
        row["error"] = reason(result.error)
    else:
        row.update(result.summary or {})
        row.update(issues=result.issues, text=result.text, markdown=result.markdown)
    return row


def _rows_table(results: Iterable[BookResult], shape: Shape):
    import pyarrow as pa

    table_schema = schema(shape.rows, shape.flavor)
    if shape.rows == "chapter":
        rows = [row for result in results for row in _chapter_rows(result, table_schema.names)]
    else:
        rows = [_row(result, book_size(result.path, remote=True)) for result in results]
    return pa.Table.from_pylist(rows, schema=table_schema)


def book_table(paths: Sequence[str], shape: Shape = Shape()):
    """The rows of these books as one pyarrow table, in this process (no cluster)."""
    return _rows_table(_convert_partition(paths, shape), shape)


def _failed_table(paths: Sequence[str], error: BaseException, shape: Shape):
    return _rows_table([BookResult(path, error=error) for path in paths], shape)


@dataclasses.dataclass
class PartitionSummary:
    rows: int  # books
    failed: int
    bytes_read: int
    chapters: int = 0  # chapter rows written (0 for book rows)


def _summary(table, paths: Sequence[str] | None = None, sizes: bool = True) -> PartitionSummary:
    """The books of a part (``rows``), those that failed and their bytes. Book rows tell it
    alone; a part of chapter rows needs its books' paths (a book may have no document)."""
    errors = table.column("error").to_pylist()
    failed = sum(e is not None for e in errors)
    if "size_bytes" in table.column_names:
        return PartitionSummary(rows=table.num_rows, failed=failed,
                                bytes_read=sum(s or 0 for s in table.column("size_bytes").to_pylist()))
    paths = list(dict.fromkeys(table.column("path").to_pylist())) if paths is None else paths
    return PartitionSummary(rows=len(paths), failed=failed,
                            bytes_read=sum(book_size(path, remote=True) or 0 for path in paths) if sizes else 0,
                            chapters=table.num_rows - failed)


def write_table(table, target: str, paths: Sequence[str] | None = None) -> PartitionSummary:
    """Writes table as one Parquet file at target (local path or URL), whole or not at all;
    ``paths``, its books, when its rows are chapters.

    A failure to write raises OSError naming target.
    """
    import pyarrow.parquet as pq

    try:
        if is_url(target):
            # Object stores publish an object only once it is closed whole.
            with open_for_writing(target) as stream:
                pq.write_table(table, stream, compression="zstd")
        else:
            import pyarrow as pa

            # Made in memory, then written by the engine with the lock released.
            buffer = pa.BufferOutputStream()
            pq.write_table(table, buffer, compression="zstd")
            write_bytes(target, buffer.getvalue())
    except OSError as error:
        raise OSError(error.errno, error.strerror or str(error), target) from None
    return _summary(table, paths)


def write_partition(paths: Sequence[str], target: str, shape: Shape = Shape()) -> PartitionSummary:
    """Read paths and write their rows as one Parquet file at target (local path or URL)."""
    return write_table(book_table(paths, shape), target, paths)


def _finished(target: str, paths: Sequence[str], shape: Shape) -> PartitionSummary | None:
    """The summary of a part an earlier run finished over these very books, in this shape
    (its columns and flavour), else None."""
    import pyarrow.parquet as pq

    wanted = schema(shape.rows, shape.flavor)
    try:
        source, fs = readable(target)
        found = pq.read_schema(source, filesystem=fs)
        if found.names != wanted.names or (found.metadata or {}).get(FLAVOR_KEY) != (wanted.metadata or {}).get(
                FLAVOR_KEY):
            return None
        columns = ["path", "error"] + (["size_bytes"] if shape.rows == "book" else [])
        table = pq.read_table(source, columns=columns, filesystem=fs)
    except Exception:  # noqa: BLE001 - absent, or not a part of ours: compute it again
        return None
    found_paths = table.column("path").to_pylist()
    if shape.rows == "chapter":
        # A book without documents has no row: its part holds the others, in order.
        present = set(found_paths)
        if list(dict.fromkeys(found_paths)) != [path for path in paths if path in present]:
            return None
        return _summary(table, paths, sizes=False)
    return _summary(table) if found_paths == list(paths) else None


@dataclasses.dataclass
class DatasetSummary:
    output: str
    books: int
    failed: int
    bytes_read: int
    seconds: float
    skipped: int = 0  # books of parts kept from an earlier run (counted in books and failed, not in bytes_read)
    chapters: int = 0  # chapter rows written by this run (0 for book rows)

    def describe(self) -> str:
        done = self.books - self.skipped
        rate = done / self.seconds if self.seconds > 0 else 0.0
        megabytes = self.bytes_read / 1e6 / self.seconds if self.seconds > 0 else 0.0
        rows = f"{done} books ({self.chapters} chapter rows)" if self.chapters else f"{done} rows"
        return (f"wrote {rows} to {self.output} in {self.seconds:.1f} s "
                f"({rate:.1f} books/s, {megabytes:.1f} MB/s), {self.failed} failed"
                + (f", {self.skipped} skipped (already written)" if self.skipped else ""))


def close_cluster(cluster, timeout: float = 30) -> None:
    """Closes a local cluster; after a worker died, closing can wait forever on its process."""
    with contextlib.suppress(TimeoutError):
        cluster.close(timeout=timeout)


def _rescue(client, paths: Sequence[str], target: str, shape: Shape) -> PartitionSummary:
    """Writes a partition whose task failed as a whole (its worker died, most likely on one
    book): each book runs as its own task, and a book whose task fails again, run alone,
    becomes a row with that error."""
    import pyarrow as pa

    def book_rows(future):
        try:
            return future.result()
        except OSError:
            raise
        except Exception as error:  # noqa: BLE001 - this book, or one beside it, took its task down
            return error

    futures = [client.submit(book_table, [path], shape, pure=False) for path in paths]
    outcomes = [book_rows(future) for future in futures]
    tables = []
    for path, outcome in zip(paths, outcomes):
        if isinstance(outcome, Exception):
            # Tasks queued on a dying worker fail with it: only a book that fails alone is to blame.
            outcome = book_rows(client.submit(book_table, [path], shape, pure=False))
        tables.append(_failed_table([path], _task_failure(outcome), shape) if isinstance(outcome, Exception)
                      else outcome)
    return client.submit(write_table, pa.concat_tables(tables), target, paths, pure=False).result()


def _task_failure(error: BaseException) -> BaseException:
    from dask.distributed import KilledWorker

    if isinstance(error, KilledWorker):
        return RuntimeError("the worker process died while reading this book")
    return error


def _run_partitions(client, work: dict[int, tuple[Sequence[str], str]], summaries: dict[int, PartitionSummary],
                    progress: bool, shape: Shape) -> None:
    """Writes each partition (index: (books, target)) on the cluster and records its summary."""
    from dask.distributed import as_completed
    from dask.distributed import progress as show_progress

    futures = {client.submit(write_partition, paths, target, shape, pure=False): index
               for index, (paths, target) in work.items()}
    if progress:
        show_progress(list(futures))
    try:
        for future in as_completed(futures):
            index = futures[future]
            try:
                summaries[index] = future.result()
            except OSError:
                raise  # the output cannot be written: every later part would fail too
            except Exception:  # noqa: BLE001 - the task or its worker died; go book by book
                summaries[index] = _rescue(client, *work[index], shape)
    except BaseException:
        client.cancel(list(futures))
        raise


def write_dataset(sources: Iterable[str], output: str, *, scheduler: str | None = None,
                  workers: int | None = None, partition_size: int = 32, progress: bool = False,
                  client=None, resume: bool = False, flavor: MarkdownFlavor = "exact",
                  rows: str = "book") -> DatasetSummary:
    """Write the Parquet dataset of the books in sources to the folder output.

    ``rows="book"`` (the default) gives one row per book; ``rows="chapter"`` one row per
    spine document (``schema("chapter")``), a book that cannot be read one row with its
    path and error. ``flavor`` ("exact" or "gfm") is that of the ``markdown`` column.

    With no ``scheduler`` (and no ``client``), a local cluster of this machine runs the work
    (``workers`` processes, default one per processor); with a scheduler address, that
    cluster does. The output folder must be reachable from every worker (a shared file
    system or an fsspec URL). A book that cannot be read, or whose worker dies, becomes a
    row with its error. With ``resume``, parts that an earlier run over the same books
    finished are kept and only the others are computed. A part that cannot be written
    raises OSError naming it; every part is written whole or not at all. A part of another
    row kind or flavour is never kept: it is computed again.
    """
    from dask.distributed import Client, LocalCluster

    shape = Shape(rows, flavor)
    started = time.monotonic()
    books = find_books(sources)
    if not books:
        raise ValueError("no .epub files found")
    output = os.fspath(output)
    make_folder(output)
    partitions = [books[start:start + partition_size] for start in range(0, len(books), partition_size)]
    join = posixpath.join if is_url(output) else os.path.join
    targets = [join(output, f"part-{index:05d}.parquet") for index in range(len(partitions))]
    summaries: dict[int, PartitionSummary] = {}
    if resume:
        if not is_url(output):
            remove_leftovers(output)
        for index, (paths, target) in enumerate(zip(partitions, targets)):
            if (kept := _finished(target, paths, shape)) is not None:
                summaries[index] = kept
    skipped = sum(summary.rows for summary in summaries.values())
    todo = [index for index in range(len(partitions)) if index not in summaries]

    cluster = own_client = None
    try:
        if todo and client is None:
            if scheduler is None:
                import dask

                # Dask starts workers with a tiny malloc trim threshold, which makes every
                # book's buffers come back as fresh pages: reading runs about twice as slow.
                with dask.config.set({"distributed.nanny.pre-spawn-environ": WORKER_ENVIRONMENT}):
                    cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                                           processes=True, dashboard_address=None)
                own_client = client = Client(cluster)
            else:
                own_client = client = Client(scheduler)
        if todo:
            _run_partitions(client, {index: (partitions[index], targets[index]) for index in todo}, summaries,
                            progress, shape)
    finally:
        if own_client is not None:
            own_client.close()
        if cluster is not None:
            close_cluster(cluster)
    return DatasetSummary(output=output, books=sum(s.rows for s in summaries.values()),
                          failed=sum(s.failed for s in summaries.values()),
                          bytes_read=sum(summaries[index].bytes_read for index in todo),
                          seconds=time.monotonic() - started, skipped=skipped,
                          chapters=sum(summaries[index].chapters for index in todo))


def read_dataset(output: str, rows: str = "book", flavor: MarkdownFlavor = "exact"):
    """The whole dataset back as one pyarrow table, rows in the order they were written
    (``rows`` and ``flavor`` as it was written with)."""
    import pyarrow.parquet as pq

    source, fs = readable(output)
    return pq.read_table(source, schema=schema(rows, flavor), filesystem=fs)
