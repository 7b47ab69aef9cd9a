"""Type stubs for the native conversion pipeline."""
from collections.abc import Sequence

_Summary = tuple[str | None, str | None, list[str], str | None, int, list[int], int, int]
_Outcome = tuple[str | None, str | None, _Summary | None, list[str] | None, BaseException | None]
_TocTuple = tuple[str, str, list["_TocTuple"]]

def convert_many(paths: Sequence[str], workers: int | None = None, markdown: bool = True, text: bool = False,
                 summary: bool = False, issues: bool = False, strict_toc: bool = False) -> list[_Outcome]: ...
def lenient_toc(documents: Sequence[tuple[str, bytes]], ignore_ncx: bool = False,
                ignore_nav: bool = False) -> list[_TocTuple]: ...
