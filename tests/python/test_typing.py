"""The package and its stub type-check, and the stub catches a misuse."""
import os
import subprocess
import sys

import pytest

from conftest import PACKAGE_ROOT, SANITIZED

if SANITIZED:
    pytest.skip("static checks; covered by the normal run", allow_module_level=True)
pytest.importorskip("mypy")


def test_package_and_stub_type_check(tmp_path):
    (tmp_path / "good.py").write_text("import quirelo\nbook: quirelo.EpubBook = quirelo.read_epub('x.epub')\n"
                                      "text: str | None = book.get_items()[0].get_text()\n")
    (tmp_path / "bad.py").write_text("import quirelo\nquirelo.EpubBook().set_title(3)\n")
    results = [subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", "--ignore-missing-imports", *args],
                              capture_output=True, text=True, cwd=tmp_path,
                              env=dict(os.environ, PYTHONPATH=PACKAGE_ROOT, MYPYPATH=PACKAGE_ROOT))
               for args in (["-p", "quirelo"], ["good.py"], ["bad.py"])]
    assert [result.returncode for result in results] == [0, 0, 1], [result.stdout for result in results]
    assert "set_title" in results[2].stdout
