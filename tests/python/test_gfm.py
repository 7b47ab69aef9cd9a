"""The structured Markdown flavour from Python: the package function, the native one, the command."""
import subprocess

import pytest

import quirelo
from conftest import python, sample_book


def test_flavors_choose_the_converter():
    book = sample_book()
    assert quirelo.to_markdown(book) == quirelo.to_markdown(book, flavor="exact") == book.to_markdown()
    gfm = quirelo.to_markdown(book, flavor="gfm")
    assert gfm == book._to_gfm()
    assert gfm.startswith('---\ntitle: "Sample"\nauthors:\n  - "A. Author"\n  - "B. Author"\n')
    assert "# One" in gfm and gfm.endswith("\n")
    with pytest.raises(ValueError, match="unknown Markdown flavor 'html'"):
        quirelo.to_markdown(book, flavor="html")


def test_markdown_command_flavor(tmp_path):
    quirelo.write_epub(tmp_path / "sample.epub", sample_book())
    out = tmp_path / "out.md"
    result = python("-m", "quirelo", "markdown", tmp_path / "sample.epub", "--flavor", "gfm", "-o", out,
                    stdin=subprocess.DEVNULL)
    assert result.returncode == 0, result.stderr
    assert out.read_text(encoding="utf-8") == quirelo.to_markdown(quirelo.read_epub(tmp_path / "sample.epub"), "gfm")
    result = python("-m", "quirelo", "markdown", tmp_path / "sample.epub", "--flavor", "rst", stdin=subprocess.DEVNULL)
    assert result.returncode == 2 and "invalid choice: 'rst'" in result.stderr
