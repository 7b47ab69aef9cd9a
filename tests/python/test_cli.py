"""The command line, run as a subprocess."""
import dataclasses
import os
import resource
import signal
import subprocess

import pytest

import quirelo
from conftest import killed_once, python, sample_book, write_books


def run(*args, preexec_fn=None):
    return python("-m", "quirelo", *args, stdin=subprocess.DEVNULL, preexec_fn=preexec_fn)


@pytest.fixture
def book_path(tmp_path):
    quirelo.write_epub(tmp_path / "sample.epub", sample_book())
    return tmp_path / "sample.epub"


@pytest.fixture
def broken_path(tmp_path):
    (tmp_path / "broken.epub").write_bytes(b"PK\x03\x04 definitely not a zip")
    return tmp_path / "broken.epub"


def test_info_and_toc(book_path):
    result = run("info", book_path)
    assert result.returncode == 0, result.stderr
    for line in ("title:       Sample", "authors:     A. Author, B. Author", "toc entries: 3", "spine:       2",
                 "document 2", "navigation 1"):
        assert line in result.stdout
    assert run("toc", book_path).stdout.splitlines() == [
        "Part  (text/one.xhtml)", "  One  (text/one.xhtml)", "  Two  (text/two.xhtml)"]


def test_validate_exit_statuses(tmp_path, book_path, broken_path):
    assert run("validate", book_path).returncode == 0
    incomplete = quirelo.new_book("x")
    quirelo.set_spine(incomplete, [quirelo.add_chapter(incomplete, "c.xhtml", "<p/>"), "gone"])
    quirelo.write_epub(tmp_path / "issues.epub", incomplete)
    result = run("validate", book_path, tmp_path / "issues.epub")
    assert result.returncode == 1 and "Spine references item 'gone' which is not in the manifest" in result.stdout
    result = run("validate", broken_path, book_path)
    assert result.returncode == 2 and f"{broken_path}: ZIP error: " in result.stderr
    assert f"{book_path}: ok" in result.stdout


def test_text_and_markdown(tmp_path, book_path):
    assert run("text", book_path).stdout == "One OneFirst & best.\n\ntwo TwoSecond.\n"  # entities decoded
    result = run("markdown", book_path)
    assert result.stdout.startswith("# Sample\n\n**A. Author**\n\n---\n\n# One")
    out = tmp_path / "out.md"
    assert run("markdown", book_path, "--flavor", "gfm", "-o", out).returncode == 0
    assert out.read_text(encoding="utf-8") == quirelo.to_markdown(quirelo.read_epub(book_path), "gfm")
    result = run("markdown", book_path, "--flavor", "rst")
    assert result.returncode == 2 and "invalid choice: 'rst'" in result.stderr


@pytest.mark.parametrize("command", ["info", "toc", "text", "markdown"])
def test_broken_input_names_file_and_reason(command, broken_path, tmp_path):
    for path in (broken_path, tmp_path / "missing.epub"):
        result = run(command, path)
        assert result.returncode == 2 and result.stdout == ""
        assert result.stderr.startswith(f"quirelo: {path}: ") and "Traceback" not in result.stderr
    if command == "info":  # and a folder without books
        (tmp_path / "none").mkdir()
        result = run("convert", tmp_path / "none", "-o", tmp_path / "out")
        assert result.returncode == 2 and result.stderr == "quirelo: no .epub files found\n"


def test_convert_skips_bad_books_and_reports_them(tmp_path, book_path, broken_path):
    folder = tmp_path / "books"
    (folder / "nested").mkdir(parents=True)
    for name in ("a.epub", "nested/a.epub", "b.epub", "d.epub"):
        (folder / name).write_bytes(book_path.read_bytes())
    (folder / "c.epub").write_bytes(broken_path.read_bytes())
    out = tmp_path / "md"
    (out / "d.md").mkdir(parents=True)  # a book whose file cannot be written fails alone
    result = run("convert", folder, "-o", out, "--chunk", "2", "--flavor", "gfm")
    assert result.returncode == 1
    assert sorted(os.listdir(out)) == ["a-2.md", "a.md", "b.md", "d.md"]
    assert (out / "b.md").read_text() == quirelo.to_markdown(quirelo.read_epub(book_path), "gfm")
    assert f"{folder / 'c.epub'}: ZIP error: " in result.stderr
    assert f"quirelo: {folder / 'd.epub'}: {out / 'd.md'}: Is a directory\n" in result.stderr
    assert "converted 3 of 5 books" in result.stderr and "2 failed" in result.stderr
    assert "\r" not in result.stderr and "book/s" not in result.stderr  # no progress bar off a terminal


# A BaseException stands for the reader's internal fault.
@pytest.mark.parametrize("error", [MemoryError(), RuntimeError("could not start the reader threads"),
                                   BaseException("internal fault")])
def test_any_failure_of_a_book_is_reported_and_the_run_goes_on(tmp_path, book_path, monkeypatch, capsys, error):
    from quirelo import cli, convert, sources

    bad = tmp_path / "bad.epub"
    bad.write_bytes(book_path.read_bytes())
    real_read, real_convert = sources.read_epub, convert.iter_convert
    monkeypatch.setattr(sources, "read_epub", lambda path, **options: (
        (_ for _ in ()).throw(error) if path.endswith("bad.epub") else real_read(path, **options)))
    monkeypatch.setattr(convert, "iter_convert", lambda paths, **options: (
        dataclasses.replace(result, error=error) if result.path.endswith("bad.epub") else result
        for result in real_convert(paths, **options)))
    expected = f"quirelo: {bad}: {'out of memory' if isinstance(error, MemoryError) else error}\n"
    for args, status in [(["convert", tmp_path, "-o", tmp_path / "md"], 1), (["validate", bad, book_path], 2)]:
        assert cli.main(list(map(str, args))) == status
        assert expected in capsys.readouterr().err
    assert "sample.md" in os.listdir(tmp_path / "md")  # the fault is injected after the worker wrote bad.md
    # Worker threads that cannot start stop the whole command.
    monkeypatch.setattr(convert, "iter_convert", lambda paths, **options: (_ for _ in ()).throw(
        RuntimeError("Failed to build thread pool: Resource temporarily unavailable")))
    for args in (["convert", book_path, "-o", tmp_path / "md"], ["text", book_path]):
        assert cli.main(list(map(str, args))) == 2
        assert capsys.readouterr().err == "quirelo: Failed to build thread pool: Resource temporarily unavailable\n"


def small_files():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 16, 1 << 16))


# A file-size limit: EFBIG, then the temporary file must go (ENOSPC and the other output
# faults are rows of the C++ stream table).
def test_convert_stops_on_a_full_disk(tmp_path):
    folder = tmp_path / "books"
    write_books(folder, ["a"])
    write_books(folder, ["big"], paragraphs=8000)  # over the 64 KiB limit
    out = tmp_path / "md"
    result = run("convert", folder, "-o", out, "--workers", "1", preexec_fn=small_files)
    assert result.returncode == 2 and "Traceback" not in result.stderr
    assert result.stderr.endswith(f"quirelo: {out / 'big.md'}: File too large\n")
    assert sorted(os.listdir(out)) == ["a.md"]
    assert (out / "a.md").read_text() == quirelo.read_epub(folder / "a.epub").to_markdown()


def test_long_names_convert_cut_at_a_character_within_the_name_limit(tmp_path):
    # 80 CJK characters: 245 bytes with ".epub"; ten books of the longest stem (250 bytes)
    # need "-10.md", which only fits once the stem is cut, never inside a character.
    longest = "a" + "\u66f8" * 83
    write_books(tmp_path / "books", ["\u66f8" * 80])
    for copy in range(10):
        write_books(tmp_path / "books" / str(copy), [longest])
    out = tmp_path / "md"
    result = run("convert", tmp_path / "books", "-o", out)
    assert result.returncode == 0, result.stderr
    expected = ["\u66f8" * 80 + ".md", longest + ".md", *(f"{longest}-{n}.md" for n in range(2, 10)),
                longest[:-1] + "-10.md"]
    assert sorted(os.listdir(out)) == sorted(expected)


def test_killed_convert_resumes_to_the_uninterrupted_result(tmp_path):
    folder = tmp_path / "books"
    write_books(folder, [f"b{index:02d}" for index in range(24)], paragraphs=3000)
    run("convert", folder, "-o", tmp_path / "whole")
    out = tmp_path / "resumed"
    killed_once(out, 3, "-m", "quirelo", "convert", folder, "-o", out, "--window", "1", "--workers", "1")
    finished = [name for name in os.listdir(out) if name.endswith(".md")]
    assert len(finished) < 24, "the run ended before it could be killed"
    result = run("convert", folder, "-o", out, "--resume")
    assert result.returncode == 0, result.stderr
    assert f"{len(finished)} skipped" in result.stderr
    assert sorted(os.listdir(out)) == sorted(os.listdir(tmp_path / "whole"))
    for name in os.listdir(out):
        assert (out / name).read_bytes() == (tmp_path / "whole" / name).read_bytes()

