"""Type stubs for the native conversion pipeline."""
from collections.abc import Iterator, Sequence

from typing import final

# identifier, title, authors, language, items, items_<type> per item type, spine_length, toc_size
_Summary = dict[str, object]
# position, name, toc_title, markdown, text, word_count, content_hash
_Chapter = dict[str, object]
# index, markdown, text, summary, issues, chapters, error
_Outcome = tuple[int, str | None, str | None, _Summary | None, list[str] | None, list[_Chapter] | None,
                 BaseException | None]

@final
class ConversionStream(Iterator[_Outcome]):
    window: int | None
    def __next__(self) -> _Outcome: ...
    def close(self) -> None: ...

def convert_stream(paths: Sequence[str], workers: int | None = None, window: int | None = None,
                   markdown: bool = True, text: bool = False, summary: bool = False, issues: bool = False,
                   strict_toc: bool = False, markdown_files: Sequence[str] | None = None,
                   text_files: Sequence[str] | None = None, flavor: str = "exact",
                   chapters: bool = False) -> ConversionStream: ...
def write_file(path: str, data: bytes | bytearray | memoryview) -> None: ...

class PanicException(BaseException):
    """An internal fault of the native code: the one class both native modules raise."""
