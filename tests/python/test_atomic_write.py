"""Writes that are whole or absent: the engine's book writer and the package's output files."""
import os
import stat

import pytest

import quirelo
from conftest import python, simple_book
from quirelo.output_file import write_text

# Run in a child whose file size limit is far below what it writes: the nearest thing to a
# full disk without privileges. SIGXFSZ ignored turns the overflow into an EFBIG error.
FULL_DISK_CHILD = r"""
import os, resource, signal, sys
import quirelo
from quirelo.output_file import write_text

writer, target = sys.argv[1:]
book = quirelo.new_book("Big", identifier="urn:test:big")
quirelo.set_spine(book, [quirelo.add_chapter(book, "c.xhtml", "<p>big</p>")])
quirelo.add_file(book, "noise.bin", os.urandom(1 << 20))
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 16, 1 << 16))
try:
    quirelo.write_epub(target, book) if writer == "book" else write_text(target, "x" * (1 << 20))
except (ValueError, OSError) as error:
    print(error)
    sys.exit(3)
"""
WRITERS = {"book": lambda path: quirelo.write_epub(path, simple_book()), "text": lambda path: write_text(path, "new")}


@pytest.mark.parametrize("writer", WRITERS)
@pytest.mark.parametrize("existing", [True, False])
def test_full_disk_leaves_the_old_file_or_nothing(tmp_path, writer, existing):
    target = tmp_path / "out"
    if existing:
        target.write_bytes(b"precious")
    child = python("-c", FULL_DISK_CHILD, writer, target)
    assert child.returncode == 3, child.stderr
    assert "File too large" in child.stdout
    assert os.listdir(tmp_path) == (["out"] if existing else [])  # no temporary file left
    if existing:
        assert target.read_bytes() == b"precious"


@pytest.mark.parametrize("writer", WRITERS)
def test_link_and_permission_bits_kept(tmp_path, writer):
    (tmp_path / "real").mkdir()
    real = tmp_path / "real" / "book"
    real.write_bytes(b"old")
    real.chmod(0o640)
    link = tmp_path / "link"
    link.symlink_to(os.path.join("real", "book"))
    WRITERS[writer](str(link))
    assert os.readlink(link) == os.path.join("real", "book")
    assert real.read_bytes() != b"old" and stat.S_IMODE(real.stat().st_mode) == 0o640
    assert sorted(os.listdir(tmp_path / "real")) == ["book"]
    old_mask = os.umask(0o027)
    try:
        WRITERS[writer](str(tmp_path / "fresh"))
    finally:
        os.umask(old_mask)
    assert stat.S_IMODE((tmp_path / "fresh").stat().st_mode) == 0o640  # 0666 less the umask
