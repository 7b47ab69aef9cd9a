"""The structured Markdown flavour from Python: the package function, the native one, and the
pipeline's outputs and chapter rows over the corpus (the commands' flavour option is in test_cli.py)."""
import hashlib

import pytest

import quirelo
from conftest import sample_book
from quirelo.cli import walk_toc


# The gfm text is the C++ goldens' to pin; the corpus pass below and test_cli.py's convert pin it is the pipeline's.
def test_flavors_choose_the_converter():
    book = sample_book()
    assert quirelo.to_markdown(book) == book.to_markdown() != quirelo.to_markdown(book, flavor="gfm")
    with pytest.raises(ValueError, match="unknown Markdown flavor 'html'"):
        quirelo.to_markdown(book, flavor="html")


@pytest.mark.parametrize("flavor", quirelo.MARKDOWN_FLAVORS)
def test_pipeline_outputs_and_chapters_are_the_books(corpus, flavor):
    results = quirelo.convert_many(corpus, text=True, issues=True, flavor=flavor, chapters=True, workers=2)
    titled = 0
    for path, result in zip(corpus, results):
        book = quirelo.read_epub(path)
        markdown = quirelo.to_markdown(book, flavor=flavor)
        assert result.error is None and (result.markdown, result.issues) == (markdown, book.validate()), path
        chapters = result.chapters
        # Each flavour's chapters joined are exactly its book after the header.
        shown = [chapter["markdown"] for chapter in chapters if chapter["markdown"]]
        if flavor == "exact":
            head, body = markdown[:markdown.find("---\n\n") + 5], "\n\n---\n\n".join(shown)
        else:
            head = markdown[:markdown.find("\n---\n", 3) + 5]
            body = "\n" + "\n\n***\n\n".join(shown) + "\n" if shown else ""
        assert head + body == markdown, path
        assert "\n\n".join(chapter["text"] for chapter in chapters if chapter["text"]) == result.text, path
        assert [chapter["position"] for chapter in chapters] == sorted({chapter["position"] for chapter in chapters})
        titles = {}
        for _, entry in walk_toc(book.toc):
            titles.setdefault(entry.href.partition("#")[0], entry.title)
        for chapter in chapters:
            assert chapter["toc_title"] == titles.get(chapter["name"], ""), (path, chapter["name"])
            assert chapter["content_hash"] == hashlib.sha1(chapter["text"].encode()).hexdigest()
            assert chapter["word_count"] == len(chapter["text"].split())
            titled += chapter["toc_title"] != ""
    assert titled > 0
