"""The conversion pipeline (quirelo.convert_many) against the single-book path, and the
lenient table of contents of the package's reads."""
import html

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import hostile_books as hb
import quirelo
import conftest
from conftest import python, toc_shape

# Character references html.unescape decodes in every way it can: named with and without
# ";", longest known prefix, numeric replaced, dropped, out of range, and not references.
REFERENCES = ("&amp; &nbsp;x &eacute &notit; &notin; &ampx &AMP &zwnj;&#0; &#1; &#128; &#x110000; &#xD800; "
              "&#99999999999999999999999; &#x; &#; &; &#160;&#x2030;&#x30;&#100;&#0010; &" + "a" * 40 + "; caf&eacute;&#233;&#x20AC;&#X20ac &ltx")
HTML_NAV = ('<?xml version="1.0"?>\n<!-- generated -->\n<!DOCTYPE html [<!ENTITY x "a>b">]>\n'
            '<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops"><body>'
            '<nav epub:type="toc"><ol><li><a href="c1.xhtml">One&nbsp;&mdash; &amp;&eacute;</a></li></ol></nav>'
            '</body></html>').encode()
HTML_NCX = hb.NCX.replace(b"<ncx", b'<!DOCTYPE ncx PUBLIC "-//NISO//DTD ncx 2005-1//EN" "x.dtd">\n<ncx', 1) \
    .replace(b"<text>One", b"<text>Uno&hellip;")


def generated_books(folder):
    """Books that exercise what the corpus lacks: invalid UTF-8, a spine naming a stylesheet
    and a missing item, an HTML navigation document, no spine."""
    items = hb.ITEMS + (("invalid", "invalid.xhtml", "application/xhtml+xml", None),)
    books = {
        "mixed": {hb.OPF_PATH: hb.package_xml(items=items, spine=("c1", "css", "gone", "invalid")),
                  "OEBPS/invalid.xhtml": hb.chapter_xhtml(b"<p>bad \xff\xfe bytes &amp; <b>more</b></p>")},
        "html_nav": {"OEBPS/nav.xhtml": HTML_NAV, "OEBPS/toc.ncx": HTML_NCX},
        "bare": {hb.OPF_PATH: hb.package_xml(metadata="", items=hb.ITEMS[1:2], spine=())},
    }
    for name, changes in books.items():
        (folder / f"{name}.epub").write_bytes(hb.with_files(**changes))
    return [str(folder / f"{name}.epub") for name in books]


# The corpus books go through the same comparison in test_gfm.py.
def test_outputs_are_those_of_the_single_book_path_and_only_those_asked_for(tmp_path):
    paths = generated_books(tmp_path)
    for path, result in zip(paths, quirelo.convert_many(paths)):
        assert (result.path, result.markdown) == (path, quirelo.read_epub(path).to_markdown())
        assert (result.text, result.summary, result.issues, result.chapters, result.error) == (None,) * 5
    results = quirelo.convert_many(paths, markdown=False, text=True, summary=True, issues=True, workers=1)
    assert [result.issues for result in results] == [quirelo.read_epub(path).validate() for path in paths]
    result = results[0]
    # Spine documents only (not the stylesheet or the missing item), references decoded.
    assert result.markdown is None and result.text.split("\n\n") == [
        "OneOneHello & welcome to a small book.", "Onebad \ufffd\ufffd bytes & more"]
    assert result.summary == {
        "identifier": "urn:hostile:1", "title": "Small", "language": "en", "authors": ["A. Author"], "items": 5,
        "spine_length": 4, "toc_size": 1, **{f"items_{t.name.lower()}": 0 for t in quirelo.ItemType},
        "items_document": 2, "items_style": 1, "items_navigation": 2}
    assert result.issues == ["Spine references item 'gone' which is not in the manifest"]
    with pytest.raises(TypeError):
        quirelo.convert_many("book.epub")


REFERENCE_PIECES = ["&", "&#", "&#x", "&lt", "&not", "&amp", ";", "x", "0", "9", "1", "a", "F", "AMP", "in",
                    "eacute", " ", "\u00e9", "\r", "\t"]


@settings(max_examples=60, deadline=None)
@example(REFERENCES)
@given(st.lists(st.sampled_from(REFERENCE_PIECES), max_size=24).map("".join))
def test_text_decodes_references_as_html_does(tmp_path_factory, text):
    path = tmp_path_factory.mktemp("references") / "book.epub"
    path.write_bytes(hb.with_files(**{"OEBPS/c1.xhtml": hb.chapter_xhtml(f"<p>{text}</p>")}))
    [result] = quirelo.convert_many([str(path)], markdown=False, text=True)
    # Python's html module is the oracle for decoding the text get_text leaves encoded.
    assert result.text == html.unescape(quirelo.read_epub(path).get_item_with_id("c1").get_text())


# The bomb's documents, which the pipeline does read, are listed often enough to pass the
# read budget: it converts as it reads, and the failures are those of the single-book path.
@pytest.mark.parametrize("workers", [None, 1, 2])
def test_each_book_comes_back_as_its_own_read(tmp_path, capfd, workers):
    good = generated_books(tmp_path)[0]
    bomb = tmp_path / "bomb.epub"
    bomb.write_bytes(hb.bomb_book(listings=3, media_type="application/xhtml+xml"))
    failing = {"missing": None, "damaged": open(good, "rb").read()[:-200], "not_zip": b"plain text",
               "no_container": hb.with_files(**{"META-INF/container.xml": None})}
    for name, data in failing.items():
        if data is not None:
            (tmp_path / name).write_bytes(data)
    failing = [str(tmp_path / name) for name in failing] + [str(tmp_path)]
    results = quirelo.convert_many([good, *failing, str(bomb), good], issues=True, workers=workers)
    assert "the book has used its read budget" in capfd.readouterr().err
    assert results[0] == results[-1] and results[0].error is None
    assert (results[-2].error, results[-2].markdown) == (None, quirelo.read_epub(bomb).to_markdown())
    for path, result in zip(failing, results[1:-2]):
        with pytest.raises(ValueError) as single:
            quirelo.read_epub(path)
        assert type(result.error) is ValueError and str(result.error) == str(single.value)
        assert (result.path, result.markdown, result.issues) == (path, None, None)


@pytest.mark.parametrize("read", [
    lambda path, **options: quirelo.read_epub(path, **options),
    lambda path, **options: quirelo.read_epub(path, lazy=True, **options),
    lambda path, **options: quirelo.read_epub_bytes(open(path, "rb").read(), **options),
    lambda path, **options: quirelo.read_epubs([path], workers=1, **options)[0],
], ids=["path", "lazy", "bytes", "batch"])
def test_html_navigation_documents_read_leniently(tmp_path, read):
    path = generated_books(tmp_path)[1]
    assert toc_shape(read(path).toc) == [("One\u00a0\u2014 &\u00e9", "c1.xhtml", [])]
    assert toc_shape(read(path, ignore_nav=True).toc) == [("Uno\u2026", "c1.xhtml", [])]
    assert read(path, strict_toc=True).toc == read(path, ignore_nav=True, ignore_ncx=True).toc == []
    [strict, lenient] = [quirelo.convert_many([path], markdown=False, summary=True, strict_toc=flag)[0]
                         for flag in (True, False)]
    assert (strict.summary["toc_size"], lenient.summary["toc_size"]) == (0, 1)


def test_both_modules_share_one_pool_and_one_panic_class(tmp_path):
    """The shared pool is started once per process whichever module asks first, and lives
    on; a second pool would leave twice its threads behind. A stream's own threads end with
    the stream, a moment after its last result."""
    path = tmp_path / "one.epub"
    quirelo.write_epub(path, conftest.simple_book())
    child = python("-c", f"""
import os, time, quirelo
from quirelo import _pipeline, _quirelo
for _ in range(2):  # either module first, then the other: one pool all the same
    quirelo.convert_many([{str(path)!r}])
    _quirelo._read_epubs([{str(path)!r}])
assert _pipeline.PanicException.__module__ == "_quirelo" and issubclass(_pipeline.PanicException, BaseException)
deadline = time.monotonic() + 10
while len(os.listdir("/proc/self/task")) - 1 != os.cpu_count() and time.monotonic() < deadline:
    time.sleep(0.01)
print(len(os.listdir("/proc/self/task")) - 1, os.cpu_count())
""")
    assert child.returncode == 0, child.stderr
    threads, processors = child.stdout.split()
    assert threads == processors
