"""Writes that are whole or absent (the one native rule every output file goes through, here
through the book writer)."""
import os
import stat

import pytest

import quirelo
from conftest import python, simple_book

# Run in a child whose file size limit is far below what it writes: the nearest thing to a
# full disk without privileges. SIGXFSZ ignored turns the overflow into an EFBIG error.
FULL_DISK_CHILD = r"""
import os, resource, signal, sys
import quirelo

target = sys.argv[1]
book = quirelo.new_book("Big", identifier="urn:test:big")
quirelo.set_spine(book, [quirelo.add_chapter(book, "c.xhtml", "<p>big</p>")])
quirelo.add_file(book, "noise.bin", os.urandom(1 << 20))
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 16, 1 << 16))
try:
    quirelo.write_epub(target, book)
except (ValueError, OSError) as error:
    print(error)
    sys.exit(3)
"""


@pytest.mark.parametrize("existing", [True, False])
def test_full_disk_leaves_the_old_file_or_nothing(tmp_path, existing):
    target = tmp_path / "out"
    if existing:
        target.write_bytes(b"precious")
    child = python("-c", FULL_DISK_CHILD, target)
    assert child.returncode == 3, child.stderr
    assert "File too large" in child.stdout
    assert os.listdir(tmp_path) == (["out"] if existing else [])  # no temporary file left
    if existing:
        assert target.read_bytes() == b"precious"


def test_link_and_permission_bits_kept(tmp_path):
    (tmp_path / "real").mkdir()
    real = tmp_path / "real" / "book"
    real.write_bytes(b"old")
    real.chmod(0o640)
    link = tmp_path / "link"
    link.symlink_to(os.path.join("real", "book"))
    quirelo.write_epub(str(link), simple_book())
    assert os.readlink(link) == os.path.join("real", "book")
    assert real.read_bytes() != b"old" and stat.S_IMODE(real.stat().st_mode) == 0o640
    assert sorted(os.listdir(tmp_path / "real")) == ["book"]
    old_mask = os.umask(0o027)
    try:
        quirelo.write_epub(str(tmp_path / "fresh"), simple_book())
    finally:
        os.umask(old_mask)
    assert stat.S_IMODE((tmp_path / "fresh").stat().st_mode) == 0o640  # 0666 less the umask
