"""The conversion pipeline against today's path, with one and two workers, in one run.

    PYTHONPATH=. python3 bench/bench_pipeline.py [--books 1000] [--chunk 128] [--rounds 1]

Today's path is the batch reader followed by Markdown on the calling thread
(``_read_epubs`` of a chunk, then ``to_markdown`` of each book); the pipeline is
``quirelo.convert_many`` of the same chunk, Markdown only. Both go through the same
chunks of paths so that memory stays bounded alike. Two sets of books: the corpus
repeated to at least --books paths, and image-heavy books this script writes (each a few
chapters and many incompressible images, as photo books and comics are), which the corpus
lacks. Ratios are of times measured in this run; the best of --rounds is taken.
"""
import argparse
import os
import random
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)

import quirelo  # noqa: E402
from bench_corpus import CORPUS, corpus_paths  # noqa: E402
from machine_scaling import machine_scaling  # noqa: E402
from quirelo import _quirelo  # noqa: E402


def image_heavy_book(path, seed, images=40, image_size=200_000, chapters=4):
    generator = random.Random(seed)
    book = quirelo.new_book(f"Album {seed}", language="en", authors=["A. Photographer"])
    spine = []
    for number in range(chapters):
        body = "".join(f'<p>Plate {number}.{i}: <img src="img{number}_{i}.jpg" alt="plate"/> a caption with '
                       f'<em>some</em> words.</p>' for i in range(images // chapters))
        spine.append(quirelo.add_chapter(book, f"c{number}.xhtml", f"<h1>Part {number}</h1>{body}"))
        for i in range(images // chapters):
            quirelo.add_image(book, f"img{number}_{i}.jpg", generator.randbytes(image_size))
    quirelo.set_spine(book, spine)
    quirelo.write_epub(path, book)


def chunks(paths, size):
    return [paths[start:start + size] for start in range(0, len(paths), size)]


def todays_path(paths, workers, chunk):
    for part in chunks(paths, chunk):
        for book in _quirelo._read_epubs(part, workers=workers):
            book.to_markdown()


def pipeline(paths, workers, chunk):
    for part in chunks(paths, chunk):
        for result in quirelo.convert_many(part, workers=workers):
            if result.error is not None:
                raise result.error


def best_of(rounds, work):
    """(wall seconds, CPU seconds of this process) of the fastest round."""
    best = (float("inf"), 0.0)
    for _ in range(rounds):
        started, cpu_started = time.perf_counter(), time.process_time()
        work()
        best = min(best, (time.perf_counter() - started, time.process_time() - cpu_started))
    return best


def compare(label, paths, chunk, rounds):
    size = sum(os.path.getsize(path) for path in paths)
    times = {}
    for workers in (1, 2):
        times["today", workers] = best_of(rounds, lambda: todays_path(paths, workers, chunk))
        times["pipeline", workers] = best_of(rounds, lambda: pipeline(paths, workers, chunk))
    print(f"{label}: {len(paths)} books, {size / 1e6:.0f} MB of archives")
    # On a loaded machine the CPU time per book is the steadier figure; wall time against
    # CPU time shows how much of a processor the run actually got.
    for (side, workers), (seconds, cpu) in times.items():
        print(f"  {side:8} {workers} worker{'s' if workers > 1 else ' '}  {len(paths) / seconds:8.1f} books/s"
              f"  {cpu / len(paths) * 1e3:6.1f} ms CPU/book  {cpu / seconds:4.2f} processors used")
    times = {key: seconds for key, (seconds, _cpu) in times.items()}
    print(f"  pipeline, 2 workers against 1:           {times['pipeline', 1] / times['pipeline', 2]:.2f}x")
    print(f"  pipeline against today's path, 2 workers: {times['today', 2] / times['pipeline', 2]:.2f}x")
    print(f"  pipeline against today's path, 1 worker:  {times['today', 1] / times['pipeline', 1]:.2f}x")
    print(f"  today's path, 2 workers against 1:       {times['today', 1] / times['today', 2]:.2f}x")
    print(f"  machine: two processes of pure arithmetic against one: {machine_scaling():.2f}x")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--books", type=int, default=1000)
    parser.add_argument("--image-books", type=int, default=200)
    parser.add_argument("--chunk", type=int, default=128)
    parser.add_argument("--rounds", type=int, default=1)
    args = parser.parse_args()
    print(f"{os.cpu_count()} logical processors, load average {os.getloadavg()[0]:.1f}")
    if os.path.isdir(CORPUS):
        corpus = corpus_paths()
        repeats = -(-args.books // len(corpus))
        compare("corpus", corpus * repeats, args.chunk, args.rounds)
    else:
        print(f"corpus skipped: no corpus at {CORPUS}")
    with tempfile.TemporaryDirectory(prefix="quirelo-bench-") as folder:
        albums = []
        for seed in range(8):
            albums.append(os.path.join(folder, f"album{seed}.epub"))
            image_heavy_book(albums[-1], seed)
        repeats = -(-args.image_books // len(albums))
        compare("image-heavy", albums * repeats, args.chunk, args.rounds)


if __name__ == "__main__":
    main()
