"""The package and its stub type-check, and the stub catches a misuse."""
import os
import subprocess
import sys

import pytest

from conftest import SANITIZED

if SANITIZED:
    pytest.skip("static checks; covered by the normal run", allow_module_level=True)
pytest.importorskip("mypy")

from conftest import PACKAGE_ROOT as ROOT


def mypy(*args, cwd):
    env = dict(os.environ, PYTHONPATH=ROOT, MYPYPATH=ROOT)
    return subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", "--ignore-missing-imports", *args],
                          capture_output=True, text=True, env=env, cwd=cwd)


def test_package_type_checks(tmp_path):
    result = mypy("-p", "quirelo", cwd=tmp_path)
    assert result.returncode == 0, result.stdout


def test_stub_types_user_code(tmp_path):
    good = tmp_path / "good.py"
    good.write_text(
        "import quirelo\n"
        "book: quirelo.EpubBook = quirelo.read_epub('x.epub')\n"
        "text: str | None = book.get_items()[0].get_text()\n"
        "pairs: list[tuple[str, bool]] = book.get_spine()\n")
    bad = tmp_path / "bad.py"
    bad.write_text("import quirelo\nquirelo.EpubBook().set_title(3)\n")
    assert mypy(str(good), cwd=tmp_path).returncode == 0
    result = mypy(str(bad), cwd=tmp_path)
    assert result.returncode == 1 and "set_title" in result.stdout
