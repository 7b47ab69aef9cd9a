"""Type stubs for the native conversion pipeline."""
from collections.abc import Sequence

_Summary = tuple[str | None, str | None, list[str], str | None, int, list[int], int, int]
_Outcome = tuple[str | None, str | None, _Summary | None, list[str] | None, BaseException | None]

def convert_many(paths: Sequence[str], workers: int | None = None, markdown: bool = True, text: bool = False,
                 summary: bool = False, issues: bool = False, strict_toc: bool = False) -> list[_Outcome]: ...

class PanicException(BaseException):
    """An internal fault of the native code: the one class both native modules raise."""
