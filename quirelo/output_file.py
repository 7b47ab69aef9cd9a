"""Output files that are either whole or absent, whatever stops the program writing them."""
from __future__ import annotations

import contextlib
import os
import re
import secrets
from collections.abc import Iterator
from typing import BinaryIO


# ".<name>.<16 hex digits>.tmp": the temporary names of replacing(), and of the engine's
# book writer, which uses the same pattern.
_LEFTOVER = re.compile(r"^\..+\.[0-9a-f]{16}\.tmp$")


@contextlib.contextmanager
def replacing(path: str) -> Iterator[BinaryIO]:
    """A binary file to write; when the block ends normally it is flushed to disk and renamed
    over path, otherwise it is removed and path is left as it was.

    A symbolic link at path keeps pointing where it pointed (the file it names is
    replaced); an existing file keeps its permission bits; a new one gets 0666 less the umask.
    """
    target = os.path.realpath(path) if os.path.islink(path) else path
    folder, name = os.path.split(target)
    temporary = os.path.join(folder, f".{name[:200]}.{secrets.token_hex(8)}.tmp")
    stream = os.fdopen(os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666), "wb")
    try:
        with stream:
            with contextlib.suppress(FileNotFoundError):
                os.chmod(stream.fileno(), os.stat(target).st_mode & 0o7777)
            yield stream
            stream.flush()
            os.fsync(stream.fileno())
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def write_text(path: str, text: str) -> None:
    """Writes text as UTF-8 to path, whole or not at all."""
    with replacing(path) as stream:
        stream.write(text.encode("utf-8"))


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
