"""The package under test, the corpus, child interpreters, threads, and books built through
the package (archives built byte by byte are in hostile_books.py)."""
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The folder holding the package under test: the checkout, or a sanitizer build's copy.
PACKAGE_ROOT = os.environ.get("QUIRELO_PACKAGE_ROOT", ROOT)
SANITIZED = bool(os.environ.get("QUIRELO_SANITIZED"))
# The module lands in the package folder; importing it bare needs that folder on the path.
sys.path[:0] = [PACKAGE_ROOT, os.path.join(PACKAGE_ROOT, "quirelo")]
# Children import the package under test, never the checkout their working folder holds.
CHILD_ENV = dict(os.environ, PYTHONPATH=PACKAGE_ROOT, PYTHONSAFEPATH="1")

import quirelo  # noqa: E402

CORPUS = os.path.join(os.path.dirname(ROOT), "shared", "corpus")


def corpus_books():
    if not os.path.isdir(CORPUS):
        return []
    return sorted(os.path.join(CORPUS, name) for name in os.listdir(CORPUS) if name.endswith(".epub"))


@pytest.fixture
def corpus():
    books = corpus_books()
    if not books:
        pytest.skip(f"no corpus at {CORPUS}")
    return books


def python(*args, **options):
    """A child interpreter that imports the package under test; output captured as text."""
    return subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, env=CHILD_ENV,
                          **options)


def killed_once(folder, entries, *args):
    """Runs a child interpreter with args and kills its whole session (workers too) once
    folder holds `entries` entries, or after it ended by itself."""
    child = subprocess.Popen([sys.executable, *map(str, args)], env=CHILD_ENV, start_new_session=True,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not (os.path.isdir(folder) and len(os.listdir(folder)) >= entries) and child.poll() is None:
        time.sleep(0.005)
    os.killpg(child.pid, signal.SIGKILL)
    child.wait()


def simple_book(title="Good", paragraphs=1, authors=("Ann",)):
    """One chapter "c" (a heading and paragraphs), in the spine and the table of contents."""
    book = quirelo.new_book(title, identifier=f"urn:test:{title}", authors=authors)
    quirelo.set_spine(book, [quirelo.add_chapter(book, "c.xhtml", "<h1>Hi</h1>" + "<p>there &amp; back</p>" * paragraphs)])
    quirelo.set_toc(book, [("Hi", "c.xhtml")])
    return book


def write_books(folder, titles, **options):
    """simple_book(title) written as folder/title.epub for each title; their paths."""
    os.makedirs(folder, exist_ok=True)
    paths = [os.path.join(folder, f"{title}.epub") for title in titles]
    for title, path in zip(titles, paths):
        quirelo.write_epub(path, simple_book(title, **options))
    return paths


def sample_book():
    """A book through every package helper: style, chapters, images, cover, nested toc."""
    book = quirelo.new_book("Sample", identifier="urn:test:1", authors=["A. Author", "B. Author"])
    quirelo.add_stylesheet(book, "css/main.css", "p { margin: 0 }")
    first = quirelo.add_chapter(book, "text/one.xhtml", "<h1>One</h1><p>First &amp; best.</p>", title="One")
    second = quirelo.add_chapter(book, "text/two.xhtml", "<h1>Two</h1><p>Second.</p>")
    quirelo.add_image(book, "images/pic.png", b"\x89PNG fake")
    quirelo.add_image(book, "images/cover.jpg", b"\xff\xd8 fake", cover=True)
    quirelo.add_file(book, "images/logo.svg", "<svg xmlns='http://www.w3.org/2000/svg'/>")
    quirelo.set_spine(book, [first, (second, False)])
    quirelo.set_toc(book, [("Part", "text/one.xhtml", [("One", "text/one.xhtml"), ("Two", "text/two.xhtml")])])
    return book


def toc_shape(entries):
    return [(entry.title, entry.href, toc_shape(entry.children)) for entry in entries]


def run_threads(work, count):
    """Runs work(index) on count threads started together; re-raises the first failure."""
    barrier = threading.Barrier(count)
    failures = []

    def body(index):
        try:
            barrier.wait()
            work(index)
        except BaseException as error:  # noqa: BLE001 - reported below, with its thread
            failures.append((index, error))

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for index, error in failures[:1]:
        raise AssertionError(f"thread {index} of {count}: {error!r}") from error


# The slow files (a Dask cluster, the Java validator) run last, so that a failing run
# stopped at its first failure (-x) ends early.
SLOW_FILES = ("test_dataset.py", "test_epubcheck.py")


def pytest_collection_modifyitems(items):
    items.sort(key=lambda item: item.path.name in SLOW_FILES)
