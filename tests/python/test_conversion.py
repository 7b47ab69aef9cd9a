"""get_text and to_markdown through the Python surface, with property tests."""
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from _quirelo import EpubBook

# Unicode White_Space (Python's str.isspace differs: it also counts U+001C..U+001F).
WHITE_SPACE = set("\t\n\x0b\x0c\r \x85\xa0\u1680\u2028\u2029\u202f\u205f\u3000") | {
    chr(c) for c in range(0x2000, 0x200B)}


def book_with(documents, *, title=None, author=None, spine=None):
    book = EpubBook()
    if title is not None:
        book.set_title(title)
    if author is not None:
        book.add_author(author)
    for index, content in enumerate(documents):
        book.add_item_raw(f"d{index}", f"d{index}.xhtml", "application/xhtml+xml", content, 9)
    book._set_spine_from_entries([(idref, True) for idref in (spine or [f"d{i}" for i in range(len(documents))])])
    return book


def text_of(content, item_type=9):
    book = EpubBook()
    book.add_item_raw("x", "x", "application/xhtml+xml", content, item_type)
    return book.get_items()[0].get_text()


@pytest.mark.parametrize("content, expected", [
    (b"<p>a</p>  <p>b</p>", "a b"),
    (b"  lead and trail \n", "lead and trail"),
    (b"a > b &amp; c", "a b &amp; c"),  # stray '>' dropped, entities kept
    (b"x\xffy", "x\ufffdy"),
    (b"<unclosed", ""),
    ("a\u00a0\u3000b".encode(), "a b"),
])
def test_get_text(content, expected):
    assert text_of(content) == expected


@pytest.mark.parametrize("item_type, has_text", [(9, True), (4, True), (1, False), (0, False), (10, False)])
def test_get_text_only_for_documents_and_navigation(item_type, has_text):
    assert (text_of(b"<p>t</p>", item_type) is not None) == has_text


@pytest.mark.parametrize("body, markdown", [
    ("<h1>Title</h1><p>Text</p>", "# Title\n\nText"),
    ("<ul><li>a</li><li>b</li></ul>", "- a\n- b"),
    ("<p>\n  A\n</p>\n<p>\n  B\n</p>", "A\n\n B"),
    ('<a href="u">  text  </a>', "[text](u)"),
    ('<a href="u"><em>x</em></a>', "[*x*](u)"),
    ("<a href='u'>x</a>", "x]"),
    ('<a href="p?a=1&amp;b=2">q</a>', "[q](p?a=1&amp;b=2)"),
    ("AT&T rocks", "AT&T rocks;"),
    ("&copy; &amp;lt; &#65;&#x41;&#X41;&#xD800;&#-5;", "&copy; &lt; AA"),
    ("x&#160;y x&#xA0;y", "x y x y"),
    ("&abcdefghijk;", "&abcdefghijk;;"),
    ("a<br>b<br/>c<br />d", "a\nbc\nd"),
    ("<P>p</P><H2 class=x>h</H2>", "p\n\n## h"),
    ("<blockquote>q</blockquote><hr>", "> q\n\n---"),
])
def test_html_to_markdown_through_a_book(body, markdown):
    document = f"<html><head><title>T</title></head><BODY class='b'>{body}</body></html>".encode()
    assert book_with([document], title="B", author="A").to_markdown() == f"# B\n\n**A**\n\n---\n\n{markdown}"


def test_book_assembly():
    assert EpubBook().to_markdown() == "# Untitled\n\n**Unknown**\n\n---\n\n"
    empty_then_text = book_with([b"<body></body>", b"<p>one</p>", b"<p>two</p>"], spine=["d0", "d1", "nav", "d2"])
    empty_then_text.add_item_raw("nav", "nav.xhtml", "application/xhtml+xml", b"<p>nav</p>", 4)
    assert empty_then_text.to_markdown() == "# Untitled\n\n**Unknown**\n\n---\n\none\n\n---\n\ntwo"
    # Duplicate ids: the spine resolves to the last document with that id.
    book = book_with([b"<p>first</p>"])
    book.add_item_raw("d0", "again.xhtml", "application/xhtml+xml", b"<p>second</p>", 9)
    assert book.to_markdown().endswith("---\n\nsecond")


markup = st.lists(st.sampled_from([
    "<p>", "</p>", "<h3>", "</h3>", "<li>", "</li>", "<br>", "<hr>", "<em>", "</em>", "<b>", "</b>", '<a href="x">',
    "</a>", "<body>", "</body>", "&amp;", "&#", "&#x", "&", ";", "<", ">", " ", "\n", "\t", "\u00a0", "\u3000",
    "\u212a", "\u0130", "text", "]", "[", "\x00", "\ud7ff",
]) | st.text(max_size=5), max_size=40).map("".join)


@settings(max_examples=300, deadline=None)
@given(st.one_of(st.binary(max_size=300), markup.map(lambda s: s.encode("utf-8", "surrogatepass"))))
def test_get_text_is_collapsed_valid_text(content):
    text = text_of(content)
    text.encode("utf-8")  # valid text: no lone surrogates
    if text:
        assert text[0] not in WHITE_SPACE and text[-1] not in WHITE_SPACE
    assert not any(a in WHITE_SPACE and b in WHITE_SPACE for a, b in zip(text, text[1:]))


@settings(max_examples=300, deadline=None)
@given(st.lists(st.one_of(st.binary(max_size=200), markup.map(str.encode)), max_size=4), st.text(max_size=10))
def test_to_markdown_never_fails(documents, title):
    markdown = book_with(documents, title=title).to_markdown()
    markdown.encode("utf-8")
    assert markdown.startswith(f"# {title}\n\n**Unknown**\n\n---\n\n")


def test_every_corpus_book_converts(corpus):
    import _quirelo

    for path in corpus:
        book = _quirelo._read_epub(path)
        assert book.to_markdown().startswith("# ")
        for item in book.get_items():
            text = item.get_text()
            assert text is None or isinstance(text, str)
