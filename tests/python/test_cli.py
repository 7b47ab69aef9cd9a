"""The command line, run as a subprocess."""
import os
import subprocess
import sys

import pytest

import quirelo
from test_package import sample_book

from conftest import PACKAGE_ROOT as ROOT


def run(*args, cwd=None):
    env = dict(os.environ, PYTHONPATH=ROOT)
    return subprocess.run([sys.executable, "-m", "quirelo", *map(str, args)], capture_output=True, text=True,
                          env=env, cwd=cwd, stdin=subprocess.DEVNULL)


@pytest.fixture
def book_path(tmp_path):
    path = tmp_path / "sample.epub"
    quirelo.write_epub(path, sample_book())
    return path


@pytest.fixture
def broken_path(tmp_path):
    path = tmp_path / "broken.epub"
    path.write_bytes(b"PK\x03\x04 definitely not a zip")
    return path


def test_info(book_path):
    result = run("info", book_path)
    assert result.returncode == 0, result.stderr
    assert "title:       Sample" in result.stdout
    assert "authors:     A. Author, B. Author" in result.stdout
    assert "toc entries: 3" in result.stdout and "spine:       2" in result.stdout
    assert "document 2" in result.stdout and "navigation 1" in result.stdout


def test_toc_is_indented(book_path):
    assert run("toc", book_path).stdout.splitlines() == [
        "Part  (text/one.xhtml)", "  One  (text/one.xhtml)", "  Two  (text/two.xhtml)"]


def test_validate_exit_statuses(tmp_path, book_path, broken_path):
    assert run("validate", book_path).returncode == 0
    incomplete = quirelo.new_book("x")
    quirelo._quirelo.EpubBook.add_item_raw(incomplete, "c", "c.xhtml", "application/xhtml+xml", b"<p/>", 9)
    quirelo.set_spine(incomplete, ["c", "gone"])
    path = tmp_path / "issues.epub"
    quirelo.write_epub(path, incomplete)
    result = run("validate", book_path, path)
    assert result.returncode == 1
    assert "Spine references item 'gone' which is not in the manifest" in result.stdout
    result = run("validate", broken_path, book_path)
    assert result.returncode == 2 and f"{broken_path}: ZIP error: " in result.stderr
    assert f"{book_path}: ok" in result.stdout


def test_text_and_markdown(tmp_path, book_path):
    assert run("text", book_path).stdout == "One OneFirst & best.\n\ntwo TwoSecond.\n"  # entities decoded
    result = run("markdown", book_path)
    assert result.stdout.startswith("# Sample\n\n**A. Author**\n\n---\n\n# One")
    out = tmp_path / "out.md"
    assert run("markdown", book_path, "-o", out).returncode == 0
    assert out.read_text(encoding="utf-8") == quirelo.read_epub(book_path).to_markdown()


@pytest.mark.parametrize("command", ["info", "toc", "text", "markdown"])
def test_broken_input_names_file_and_reason(command, broken_path, tmp_path):
    for path in (broken_path, tmp_path / "missing.epub"):
        result = run(command, path)
        assert result.returncode == 2 and result.stdout == ""
        assert result.stderr.startswith(f"quirelo: {path}: ") and "Traceback" not in result.stderr


def test_convert_skips_bad_books_and_reports_them(tmp_path, book_path, broken_path):
    folder = tmp_path / "books"
    (folder / "nested").mkdir(parents=True)
    for name in ("a.epub", "nested/a.epub", "b.epub"):
        (folder / name).write_bytes(book_path.read_bytes())
    (folder / "c.epub").write_bytes(broken_path.read_bytes())
    out = tmp_path / "md"
    result = run("convert", folder, "-o", out, "--chunk", "2")
    assert result.returncode == 1
    assert sorted(os.listdir(out)) == ["a-2.md", "a.md", "b.md"]
    assert f"{folder / 'c.epub'}: ZIP error: " in result.stderr
    assert "converted 3 of 4 books" in result.stderr and "1 failed" in result.stderr
    assert "\r" not in result.stderr and "book/s" not in result.stderr  # no progress bar off a terminal


def test_convert_with_nothing_to_do(tmp_path):
    result = run("convert", tmp_path, "-o", tmp_path / "out")
    assert result.returncode == 2 and "no .epub files found" in result.stderr


def test_corpus_books_convert(tmp_path, corpus):
    result = run("convert", *corpus, "-o", tmp_path / "md")
    assert result.returncode == 0, result.stderr
    assert len(os.listdir(tmp_path / "md")) == len(corpus)
