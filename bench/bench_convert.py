"""The command line against the engine it runs on, over a skewed set of books, in one run.

    PYTHONPATH=. python3 bench/bench_convert.py [--books 1000] [--large 3] [--rounds 3]

The set: the corpus repeated to at least --books paths (symbolic links in a temporary
folder), plus --large books this script writes (many long chapters: each takes a hundred
times an average book to convert), placed in the middle. Printed, each a ratio of times
measured in this run (the best of --rounds interleaved rounds):

- `python -m quirelo convert` (a new process, Markdown files written and flushed) against
  the engine in this process (`quirelo.iter_convert`, Markdown handed back and dropped),
  and against the engine in this process writing the same files (what the command adds
  to its engine: the new process and its Python);
- the engine with two workers against one, beside the machine's own ceiling (two
  processes of pure arithmetic against one);
- both against the old path (`_read_epubs` of a chunk on 2 workers, then `to_markdown` of
  each book on the calling thread);
- the main thread's share of the process's CPU time while the command converts (run in
  this process: `time.thread_time` of the main thread against `os.times`), and the
  speed-up Amdahl's law allows with that serial share on 16 and 64 cores.
"""
import argparse
import contextlib
import io
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)

import quirelo  # noqa: E402
from bench_corpus import CORPUS, corpus_paths  # noqa: E402
from machine_scaling import machine_scaling  # noqa: E402
from quirelo import _quirelo, cli  # noqa: E402

WORKERS = 2


def large_book(path, seed, chapters=40, paragraphs=1500):
    book = quirelo.new_book(f"Large {seed}", language="en", authors=["A. Writer"])
    spine = []
    for number in range(chapters):
        body = "".join(f"<p>Paragraph {i} of chapter {number}: <em>some</em> words, a <a href='#n{i}'>link</a> "
                       f"and more words to carry the line along.</p>\n" for i in range(paragraphs))
        spine.append(quirelo.add_chapter(book, f"c{number}.xhtml", f"<h1>Chapter {number}</h1>\n{body}"))
    quirelo.set_spine(book, spine)
    quirelo.write_epub(path, book)


def skewed_set(folder, books, large):
    """Paths of the set, every one a distinct file name in folder (so one output each)."""
    corpus = corpus_paths()
    repeats = -(-books // len(corpus))
    paths = []
    for round_number in range(repeats):
        for source in corpus:
            link = os.path.join(folder, f"r{round_number:03d}-{os.path.basename(source)}")
            os.symlink(source, link)
            paths.append(link)
    middle = len(paths) // 2
    for seed in range(large):
        path = os.path.join(folder, f"r{middle:03d}-large{seed}.epub")
        large_book(path, seed)
        paths.insert(middle + seed, path)
    return paths


def timed(work):
    """(wall seconds, CPU seconds of this process and its children) of one call. What an
    earlier run left for the disk is flushed first, so that no run pays for another."""
    os.sync()
    started, cpu = time.perf_counter(), os.times()
    work()
    after = os.times()
    spent = (after.user - cpu.user) + (after.system - cpu.system) + (after.children_user - cpu.children_user) + \
        (after.children_system - cpu.children_system)
    return time.perf_counter() - started, spent


def fresh_folders(parent):
    """New output folder names under parent, one per call. Nothing is removed before the
    end of the run: a file system without a journal skips the inodes freed in the last
    minutes when it creates a file, at a cost per inode skipped, so a round that follows
    the removal of another round's thousand files would pay for that removal."""
    count = 0
    while True:
        count += 1
        yield os.path.join(parent, f"md{count}")


def command_line(folder, output, workers):
    result = subprocess.run([sys.executable, "-m", "quirelo", "convert", folder, "-o", output,
                             "--workers", str(workers)], capture_output=True, text=True,
                            env=dict(os.environ, PYTHONPATH=ROOT))
    if result.returncode != 0:
        raise SystemExit(f"convert failed: {result.stderr}")


def engine(paths, workers, output=None):
    files = None
    if output is not None:
        os.mkdir(output)
        files = [os.path.join(output, name) for name in cli._output_names(paths)]
    for result in quirelo.iter_convert(paths, workers=workers, markdown_files=files):
        if result.error is not None:
            raise result.error


def old_path(paths, workers, chunk=128):
    for start in range(0, len(paths), chunk):
        for book in _quirelo._read_epubs(paths[start:start + chunk], workers=workers):
            book.to_markdown()


def main_thread_share(folder, output, workers):
    """The share of this process's CPU time spent on its main thread while cli.main
    converts the set, and the wall time it took."""
    os.sync()
    started, process, main = time.perf_counter(), os.times(), time.thread_time()
    with contextlib.redirect_stderr(io.StringIO()):
        status = cli.main(["convert", folder, "-o", output, "--workers", str(workers)])
    main = time.thread_time() - main
    after = os.times()
    if status != 0:
        raise SystemExit(f"convert failed with status {status}")
    total = (after.user - process.user) + (after.system - process.system)
    return main / total, time.perf_counter() - started


def amdahl(serial, cores):
    return 1 / (serial + (1 - serial) / cores)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--books", type=int, default=1000)
    parser.add_argument("--large", type=int, default=3)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    if not os.path.isdir(CORPUS):
        print(f"bench_convert: skipped, no corpus at {CORPUS}")
        return
    print(f"{os.cpu_count()} logical processors, load average {os.getloadavg()[0]:.1f} at the start")
    with tempfile.TemporaryDirectory(prefix="quirelo-bench-") as temporary:
        folder, outputs = os.path.join(temporary, "books"), fresh_folders(temporary)
        os.mkdir(folder)
        paths = skewed_set(folder, args.books, args.large)
        size = sum(os.path.getsize(path) for path in paths)
        print(f"{len(paths)} books ({args.large} large, in the middle), {size / 1e6:.0f} MB of archives")
        ceiling_before = machine_scaling()
        work = {
            "command line": lambda: command_line(folder, next(outputs), WORKERS),
            "engine 1": lambda: engine(paths, 1),
            "engine 2": lambda: engine(paths, WORKERS),
            "engine, files": lambda: engine(paths, WORKERS, next(outputs)),
            "old path": lambda: old_path(paths, WORKERS),
        }
        # Interleaved rounds, the best of each kept: a burst of other work on the machine
        # then slows one round of every kind rather than every round of one.
        times = {label: (float("inf"), 0.0) for label in work}
        for _ in range(args.rounds):
            for label, run in work.items():
                times[label] = min(times[label], timed(run))
        share, share_seconds = min(main_thread_share(folder, next(outputs), WORKERS) for _ in range(args.rounds))
        ceiling = (ceiling_before + machine_scaling()) / 2
    for label, (seconds, cpu) in times.items():
        print(f"  {label:13} {len(paths) / seconds:7.1f} books/s  {cpu / len(paths) * 1e3:5.2f} ms CPU/book"
              f"  {cpu / seconds:4.2f} processors used")
    wall = {label: seconds for label, (seconds, _cpu) in times.items()}
    scaling = wall["engine 1"] / wall["engine 2"]
    print(f"  command line against the engine (throughput):      {wall['engine 2'] / wall['command line']:.2f}x"
          f"  (goal >= 0.9)")
    print(f"  command line against the engine writing the files: {wall['engine, files'] / wall['command line']:.2f}x")
    print(f"  engine, 2 workers against 1:                       {scaling:.2f}x")
    print(f"  machine: two processes of pure arithmetic against one: {ceiling:.2f}x")
    print(f"  2 workers against the machine's ceiling:           {scaling / ceiling:.2f}  (goal >= 0.95)")
    print(f"  command line against the old path:                 {wall['old path'] / wall['command line']:.2f}x"
          f"  (goal >= 1.8)")
    print(f"  engine against the old path:                       {wall['old path'] / wall['engine 2']:.2f}x")
    print(f"  main thread's share of CPU in convert ({share_seconds:.1f} s):   {share * 100:.2f}%  (goal <= 2%)")
    print(f"  speed-up that share allows: {amdahl(share, 16):.1f}x on 16 cores, {amdahl(share, 64):.1f}x on 64")
    print(f"  load average at the end: {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
