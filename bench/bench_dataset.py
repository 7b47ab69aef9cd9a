"""Dataset throughput: a local Dask cluster against the single-process batch path.

    PYTHONPATH=. python3 bench/bench_dataset.py [--copies 500] [--workers N]

The corpus is repeated (as symbolic links) to at least --copies files. Both sides make
the same rows (reading, validation, text and Markdown of every book); the single-process
side uses the parallel batch reader in this process and writes the same Parquet parts, the cluster side one Dask worker
process per processor, each writing its Parquet parts.
"""
import argparse
import os
import shutil
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)

from bench_corpus import CORPUS, corpus_paths  # noqa: E402
from quirelo import dataset  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--copies", type=int, default=500)
    parser.add_argument("--workers", type=int, default=os.cpu_count())
    args = parser.parse_args()
    if not os.path.isdir(CORPUS):
        print(f"skipped: no corpus at {CORPUS}")
        return
    books = corpus_paths()
    folder = tempfile.mkdtemp(prefix="quirelo-bench-")
    try:
        paths = []
        while len(paths) < args.copies:
            for book in books:
                link = os.path.join(folder, f"{len(paths):05d}-{os.path.basename(book)}")
                os.symlink(book, link)
                paths.append(link)
        total_bytes = sum(os.path.getsize(p) for p in paths)

        single_out = os.path.join(folder, "single.parquet")
        os.makedirs(single_out)
        started = time.perf_counter()
        for index, start in enumerate(range(0, len(paths), 32)):
            dataset.write_partition(paths[start:start + 32], os.path.join(single_out, f"part-{index:05d}.parquet"))
        single = time.perf_counter() - started

        out = os.path.join(folder, "out.parquet")
        started = time.perf_counter()
        summary = dataset.write_dataset(paths, out, workers=args.workers)
        cluster = time.perf_counter() - started
        assert summary.books == len(paths) and summary.failed == 0

        def line(name, seconds):
            return (f"{name:<34} {len(paths) / seconds:8.1f} books/s {total_bytes / 1e6 / seconds:8.1f} MB/s"
                    f"   ({seconds:.1f} s)")

        print(f"{len(paths)} books, {total_bytes / 1e6:.0f} MB, {os.cpu_count()} logical processors")
        print(line("single process (batch reader)", single))
        print(line(f"local cluster ({args.workers} worker processes)", cluster))
        print(f"cluster / single process: {single / cluster:.2f}x (cluster time includes its start-up)")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
