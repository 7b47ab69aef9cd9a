"""Books written by _write_epub_bytes read back as they were built.

Generated books hold only what the writer keeps as it is (no characters XML forbids, no
White_Space at the ends of titles, no clashing entry names), so what comes back must be
what went in; the writer's transformations are pinned by its golden documents in tests/cpp.
"""
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _quirelo as q
from conftest import toc_shape

EXAMPLES = settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def make_toc(tree):
    return [q.TocEntry(title, href, make_toc(children)) for title, href, children in tree]


# Text that XML carries as it is, markup characters and non-ASCII made likely.
plain_text = st.text(alphabet=st.one_of(
    st.sampled_from(list("&<>\"' é漢😀#%?:;=")),
    st.characters(exclude_categories=["Cs", "Cc"], exclude_characters="\ufffe\uffff")), max_size=10)
titles = plain_text.map(str.strip)  # navigation titles lose White_Space at their ends
toc_trees = st.recursive(
    st.tuples(titles, plain_text).map(lambda pair: (*pair, [])),
    lambda children: st.tuples(titles, plain_text, st.lists(children, max_size=3)), max_leaves=15)


@st.composite
def items(draw):
    """(id, href, media type, content, item type, properties); ids unique and not "nav" or "c1",
    hrefs each in a folder of their own so that no two entry names meet."""
    chosen, seen = [], {"nav", "c1"}
    for index in range(draw(st.integers(1, 6))):
        item_id = draw(st.one_of(st.just(f"i{index}"), plain_text))
        while item_id in seen:
            item_id = f"i{index}-{item_id}"
        seen.add(item_id)
        name = draw(plain_text.filter(lambda text: "/" not in text and text not in ("", ".", "..")))
        chosen.append((item_id, f"d{index}/{name}",
                       draw(st.sampled_from(["application/xhtml+xml", "text/css", "image/png", "", "x/&<>\"'"])),
                       draw(st.one_of(st.binary(max_size=300), st.just(bytes(range(256)) * 20))),
                       draw(st.sampled_from([0, 1, 2, 9, 10, 11])),
                       draw(st.sampled_from([None, "", "svg", "mathml remote-resources"]))))
    return chosen


@EXAMPLES
@given(items(), st.data(), st.lists(toc_trees, max_size=3), plain_text)
def test_generated_books_round_trip(book_items, data, toc, title):
    ids = [item[0] for item in book_items]
    spine = data.draw(st.lists(st.tuples(st.one_of(st.sampled_from(ids), plain_text), st.booleans()),
                               min_size=1, max_size=6))
    book = q.EpubBook()
    book.set_identifier("urn:x:1")
    book.set_language("en")
    book.add_item_raw("c1", "c1.xhtml", "application/xhtml+xml", b"<html/>", 9)
    book._set_spine_from_entries(spine)
    book._set_toc_from_entries(make_toc(toc))
    book.set_title("T")
    book.set_title(title)  # replaces the first
    book.add_metadata("OPF", "note", title)
    book.add_metadata("DC", "subject", title, {"xml:lang": title})
    for item_id, href, media_type, content, item_type, properties in book_items:
        book.add_item_raw(item_id, href, media_type, content, item_type, properties)
    back = q._read_epub_bytes(q._write_epub_bytes(book))

    got = [(i.get_id(), i.get_name(), i.get_media_type(), i.get_content()) for i in back.get_items()]
    assert got[1:-1] == [item[:4] for item in book_items]
    assert got[-1][:3] == ("nav", "nav.xhtml", "application/xhtml+xml")
    assert back.get_spine() == spine
    assert toc_shape(back.toc) == toc
    assert back.get_metadata("DC", "title") == [(title, {})]
    assert back.get_metadata("OPF", "note") == [(title, {"name": "note", "content": title})]
    assert back.get_metadata("DC", "subject") == [(title, {"xml:lang": title})]
