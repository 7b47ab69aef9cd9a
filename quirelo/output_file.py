"""Output files that are either whole or absent, whatever stops the program writing them.

The writing itself is the engine's (a temporary file beside the target, flushed to disk,
then renamed over it), the same code that writes books and the pipeline's output files.
"""
from __future__ import annotations

import contextlib
import os
import re

from . import _pipeline

# ".<name>.<16 hex digits>.tmp": the temporary names of the engine's writers (the name
# cut at a character boundary so that the whole stays within the file system's limit).
_LEFTOVER = re.compile(r"^\..+\.[0-9a-f]{16}\.tmp$", re.DOTALL)


def write_bytes(path: str | os.PathLike[str], data: bytes | bytearray | memoryview) -> None:
    """Writes data to path, whole or not at all, with the interpreter lock released.

    A symbolic link at path keeps pointing where it pointed (the file it names is
    replaced); an existing file keeps its permission bits; a new one gets 0666 less the
    umask. A failure raises OSError naming path.
    """
    _pipeline.write_file(os.fsdecode(os.fspath(path)), data)


def write_text(path: str | os.PathLike[str], text: str) -> None:
    """Writes text as UTF-8 to path, whole or not at all."""
    write_bytes(path, text.encode("utf-8"))


def remove_leftovers(folder: str) -> int:
    """Removes the temporary files that a killed writer left in folder; the count removed."""
    removed = 0
    with os.scandir(folder) as entries:
        for entry in entries:
            if _LEFTOVER.match(entry.name) and entry.is_file(follow_symlinks=False):
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(entry.path)
                    removed += 1
    return removed
