"""Turn a library of EPUB books into a Parquet dataset, on this machine or a Dask cluster.

One row per book. Each partition of books is read with the parallel batch reader on a
worker and written by that worker as one Parquet file of the dataset folder, so the
client only ever holds small summaries. Needs the optional dependencies dask.distributed
and pyarrow (``pip install quirelo[dataset]``); local paths and any fsspec URL work.
"""
from __future__ import annotations

import dataclasses
import os
import posixpath
import time
from collections.abc import Iterable, Sequence

from .item_types import ItemType

ITEM_COLUMNS = [f"items_{item_type.name.lower()}" for item_type in ItemType]

# Environment of local worker processes: keep freed memory for the next book instead of
# returning it to the system after every partition.
WORKER_ENVIRONMENT = {"MALLOC_TRIM_THRESHOLD_": str(256 << 20), "MALLOC_MMAP_THRESHOLD_": str(256 << 20)}


def schema():
    """The dataset's documented schema (pyarrow)."""
    import pyarrow as pa

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
        ]
    )


def _is_url(path: str) -> bool:
    return "://" in path and not path.startswith("file://")


def find_books(sources: Iterable[str]) -> list[str]:
    """The .epub files among sources: files as given, folders searched recursively (local or fsspec)."""
    books: list[str] = []
    for source in sources:
        source = os.fspath(source)
        if _is_url(source):
            import fsspec

            fs, root = fsspec.core.url_to_fs(source)
            protocol = source.split("://", 1)[0]
            if fs.isdir(root):
                found = [p for p in fs.find(root) if p.lower().endswith(".epub")]
                books.extend(f"{protocol}://{p}" for p in sorted(found))
            else:
                books.append(source)
        elif os.path.isdir(source):
            for folder, _dirs, files in os.walk(source):
                books.extend(sorted(os.path.join(folder, n) for n in files if n.lower().endswith(".epub")))
        else:
            books.append(source)
    return books


def _first(book, name):
    values = book.get_metadata("DC", name)
    return values[0][0] if values else None


def _toc_size(entries) -> int:
    count, stack = 0, list(entries)
    while stack:
        entry = stack.pop()
        count += 1
        stack.extend(entry.children)
    return count


def _empty_row(path: str, size: int | None, error: str) -> dict[str, object]:
    row: dict[str, object] = {field: None for field in schema().names}
    row.update(path=path, size_bytes=size, error=error)
    return row


def book_row(path: str, book, size: int | None) -> dict[str, object]:
    """The dataset row of one book that was read."""
    import html

    counts = [0] * len(ITEM_COLUMNS)
    for item in book.get_items():
        counts[item.get_type()] += 1
    texts = []
    for idref, _linear in book.get_spine():
        item = book.get_item_with_id(idref)
        if item is not None and item.get_type() == ItemType.DOCUMENT:
            text = item.get_text()
            if text:
                texts.append(html.unescape(text))
    row: dict[str, object] = {
        "path": path,
        "size_bytes": size,
        "identifier": _first(book, "identifier"),
        "title": _first(book, "title"),
        "authors": [value for value, _ in book.get_metadata("DC", "creator")],
        "language": _first(book, "language"),
        "items": sum(counts),
        "spine_length": len(book.get_spine()),
        "toc_size": _toc_size(book.toc),
        "issues": book.validate(),
        "text": "\n\n".join(texts),
        "markdown": book.to_markdown(),
        "error": None,
    }
    row.update(zip(ITEM_COLUMNS, counts))
    return row


def _read_partition(paths: Sequence[str]) -> list[tuple[str, object, int | None]]:
    """(path, book or error text, size) per path; local files through the parallel reader."""
    from . import _quirelo

    outcomes: list[tuple[str, object, int | None]] = []
    local = [p for p in paths if not _is_url(p)]
    books: dict[str, object] = {}
    try:
        books = dict(zip(local, _quirelo._read_epubs(local)))
    except ValueError:
        pass  # the batch reports only its first failure; the loop below reads the rest alone
    for path in paths:
        size = None
        try:
            if path in books:
                book = books[path]
                size = os.path.getsize(path)
            elif _is_url(path):
                import fsspec

                with fsspec.open(path, "rb") as stream:
                    data = stream.read()
                size = len(data)
                book = _quirelo._read_epub_bytes(data)
            else:
                size = os.path.getsize(path) if os.path.exists(path) else None
                book = _quirelo._read_epub(path)
            outcomes.append((path, book, size))
        except (ValueError, OSError) as error:
            outcomes.append((path, str(error), size))
    return outcomes


def book_table(paths: Sequence[str]):
    """The rows of these books as one pyarrow table, in this process (no cluster)."""
    import pyarrow as pa

    rows = []
    for path, outcome, size in _read_partition(paths):
        rows.append(_empty_row(path, size, outcome) if isinstance(outcome, str) else book_row(path, outcome, size))
    return pa.Table.from_pylist(rows, schema=schema())


@dataclasses.dataclass
class PartitionSummary:
    rows: int
    failed: int
    bytes_read: int


def write_partition(paths: Sequence[str], target: str) -> PartitionSummary:
    """Read paths and write their rows as one Parquet file at target (local path or URL)."""
    import pyarrow.parquet as pq

    table = book_table(paths)
    if _is_url(target):
        import fsspec

        with fsspec.open(target, "wb") as stream:
            pq.write_table(table, stream, compression="zstd")
    else:
        pq.write_table(table, target, compression="zstd")
    errors = table.column("error").to_pylist()
    sizes = table.column("size_bytes").to_pylist()
    return PartitionSummary(rows=table.num_rows, failed=sum(e is not None for e in errors),
                            bytes_read=sum(s or 0 for s in sizes))


@dataclasses.dataclass
class DatasetSummary:
    output: str
    books: int
    failed: int
    bytes_read: int
    seconds: float

    def describe(self) -> str:
        rate = self.books / self.seconds if self.seconds > 0 else 0.0
        megabytes = self.bytes_read / 1e6 / self.seconds if self.seconds > 0 else 0.0
        return (f"wrote {self.books} rows to {self.output} in {self.seconds:.1f} s "
                f"({rate:.1f} books/s, {megabytes:.1f} MB/s), {self.failed} failed")


def _prepare_output(output: str) -> None:
    if _is_url(output):
        import fsspec

        fs, root = fsspec.core.url_to_fs(output)
        fs.makedirs(root, exist_ok=True)
    else:
        os.makedirs(output, exist_ok=True)


def write_dataset(sources: Iterable[str], output: str, *, scheduler: str | None = None,
                  workers: int | None = None, partition_size: int = 32, progress: bool = False,
                  client=None) -> DatasetSummary:
    """Write the Parquet dataset of the books in sources to the folder output.

    With no ``scheduler`` (and no ``client``), a local cluster of this machine runs the work
    (``workers`` processes, default one per processor); with a scheduler address, that
    cluster does. The output folder must be reachable from every worker (a shared file
    system or an fsspec URL). A book that cannot be read becomes a row with its error.
    """
    from dask.distributed import Client, LocalCluster
    from dask.distributed import progress as show_progress

    started = time.monotonic()
    books = find_books(sources)
    if not books:
        raise ValueError("no .epub files found")
    output = os.fspath(output)
    _prepare_output(output)
    partitions = [books[start:start + partition_size] for start in range(0, len(books), partition_size)]
    join = posixpath.join if _is_url(output) else os.path.join
    targets = [join(output, f"part-{index:05d}.parquet") for index in range(len(partitions))]

    cluster = own_client = None
    try:
        if client is None:
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
        futures = client.map(write_partition, partitions, targets, pure=False)
        if progress:
            show_progress(futures)
        summaries = client.gather(futures)
    finally:
        if own_client is not None:
            own_client.close()
        if cluster is not None:
            cluster.close()
    return DatasetSummary(output=output, books=sum(s.rows for s in summaries),
                          failed=sum(s.failed for s in summaries),
                          bytes_read=sum(s.bytes_read for s in summaries),
                          seconds=time.monotonic() - started)


def read_dataset(output: str):
    """The whole dataset back as one pyarrow table, rows in the order they were written."""
    import pyarrow.parquet as pq

    return pq.read_table(output, schema=schema())
