"""Written books pass EPUBCheck (a Java process per book, two at a time): built from
scratch, and corpus books read and written again, which may not gain an error their
original lacks (by message id and entry relative to the package folder: lines move)."""
import hashlib
import io
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import urllib.parse
import xml.etree.ElementTree as ElementTree
import zipfile
import zlib
from concurrent.futures import ThreadPoolExecutor

import pytest

import _quirelo as q
import hostile_books as hb
import quirelo
from conftest import SANITIZED, corpus_books

if SANITIZED:  # Java would inherit the preloaded sanitizer runtime
    pytest.skip("EPUBCheck runs in the normal build", allow_module_level=True)

JAR = "/usr/share/java/epubcheck.jar"
# Client compiler only and a serial collector: a third of the default start-up and run time.
JAVA = ["java", "-XX:+UseSerialGC", "-XX:TieredStopAtLevel=1", "-jar", JAR]
PARALLEL = 2
SEVERE = ("ERROR", "FATAL")


def png(width=2, height=2):
    """A real PNG image (EPUBCheck looks at image headers)."""
    raw = b"".join(b"\x00" + b"\xff\x00\x00" * width for _ in range(height))
    chunks = [(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)), (b"IDAT", zlib.compress(raw)), (b"IEND", b"")]
    return b"\x89PNG\r\n\x1a\n" + b"".join(struct.pack(">I", len(data)) + kind + data + struct.pack(
        ">I", zlib.crc32(kind + data)) for kind, data in chunks)


def xhtml(title, body):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<html xmlns="http://www.w3.org/1999/xhtml" xml:lang="en" lang="en">\n'
            f'<head><title>{title}</title><link rel="stylesheet" type="text/css" href="../style.css"/></head>\n'
            f"<body>{body}</body>\n</html>\n").encode()


def module_book():
    """Everything through the module: odd metadata, folders, fragments, cover, nested toc."""
    book = q.EpubBook()
    book.set_identifier("urn:uuid:8c5e3b1e-3f0a-4a57-9d6b-2f1b8a0c7d11")
    book.set_title("Q&A <one> \"quoted\" 'apostrophe' \u2014 \u00fcn\u00efc\u00f8d\u00e9 \u6f22\u5b57")
    book.set_language("en")
    book.add_author("Ann O'Neil & Co", "O'Neil, Ann", "aut")
    book.add_author("B. Translator", None, "trl", "translator-1")
    # Controls are left out, and so are names that cannot be written as they are: an element
    # name with a leading digit, an attribute in an undeclared namespace.
    for namespace, name, value, attributes in [
            ("DC", "subject", "Testing <markup>", {"xml:lang": "en"}), ("DC", "publisher", "P\x01ublisher \x0b\u00e9", {}),
            ("DC", "date", "2024-01-02", {}), ("DC", "1st", "left out", {}),
            ("OPF", "note", "kept", {"ns:x": "dropped", "xmlns:y": "dropped"})]:
        book.add_metadata(namespace, name, value, attributes)
    book.add_item_raw("style", "style.css", "text/css", b"body { margin: 1em }\n", 2)
    book.add_item_raw("ch1", "text/ch1.xhtml", "application/xhtml+xml", xhtml(
        "One", '<h1 id="s1">One</h1><p id="s2">A &amp; B</p><img src="../images/pic.png" alt="pic"/>'), 9)
    book.add_item_raw("ch2", "text/ch2.xhtml", "application/xhtml+xml", xhtml("Two", "<h1>Two</h1><p>x</p>"), 9)
    book.add_item_raw("pic", "images/pic.png", "image/png", png(), 1)
    book.set_cover("images/cover.png", png(4, 4))
    book._set_spine_from_entries([("ch1", True), ("ch2", False)])
    book._set_toc_from_entries([q.TocEntry("One & <all>", "text/ch1.xhtml", [
        q.TocEntry("Section \"1\"", "text/ch1.xhtml#s1"), q.TocEntry("Section 2", "text/ch1.xhtml#s2")]),
        q.TocEntry("Part without a page", "", [q.TocEntry("Two", "text/ch2.xhtml")])])
    return book


def package_book():
    """Through the package helpers, as a user would build one; a meta under the prefix it declares."""
    book = quirelo.new_book("Helpers", language="fr", authors=["Zo\u00e9 \u00c9crivain"])
    quirelo.add_stylesheet(book, "style.css", "p { color: black }")
    quirelo.add_image(book, "cover.png", png(), cover=True)
    quirelo.set_spine(book, [quirelo.add_chapter(book, "one.xhtml", "<h1>Un</h1><p>Premier.</p>", language="fr"),
                             (quirelo.add_chapter(book, "two.xhtml", "<h1>Deux</h1><p>Second.</p>", language="fr"), True)])
    quirelo.set_toc(book, [("Un", "one.xhtml", [("Deux", "two.xhtml")])])
    book.add_metadata("OPF", "series", "S", {"property": "my:series"})
    book.set_package_prefix("my: http://example.org/my-vocabulary#")
    return book


def own_nav_and_ncx_book():
    """A navigation item and an NCX item without content get the generated documents; the
    even levels share their target (one NCX play order for them all)."""
    book = quirelo.new_book("Own navigation", language="de", identifier="id-3")
    headings = "".join(f'<h2 id="l{level}">Level {level}</h2><p>x</p>' for level in range(6))
    book.add_item_raw("c", "c.xhtml", "application/xhtml+xml", xhtml("C", headings).replace(b"../style.css", b"s.css"), 9)
    book.add_item_raw("s", "s.css", "text/css", b"", 2)
    book.add_item_raw("toc", "toc.xhtml", "application/xhtml+xml", b"", 4, "nav")
    book.add_item_raw("ncx", "toc.ncx", "application/x-dtbncx+xml", b"", 4)
    book._set_spine_from_entries([("c", True)])
    chain = []
    for level in reversed(range(6)):
        chain = [q.TocEntry(f"Level {level}", f"c.xhtml#l{level}" if level % 2 else "c.xhtml", chain)]
    book._set_toc_from_entries(chain)
    return book


def epub2_book():
    """An EPUB 2 book (version read from its package) gets an EPUB 2 package and NCX."""
    chapter = ('<?xml version="1.0" encoding="UTF-8"?>\n<html xmlns="http://www.w3.org/1999/xhtml">'
               '<head><title>One</title></head><body><h1 id="a">One</h1><p>Text.</p></body></html>')
    book = q._read_epub_bytes(hb.with_files(**{
        hb.OPF_PATH: hb.package_xml(version="2.0", items=hb.ITEMS[1:2] + hb.ITEMS[3:], metadata=(
            '<dc:identifier id="uid">urn:x:epub2</dc:identifier><dc:title>Two &amp; Co</dc:title><dc:language>en'
            '</dc:language><dc:creator opf:role="aut" opf:file-as="Smith, J">J Smith</dc:creator>')),
        "OEBPS/c1.xhtml": chapter.encode(), "OEBPS/nav.xhtml": None, "OEBPS/style.css": None,
        "OEBPS/toc.ncx": None}))  # listed but absent: the writer makes the NCX
    book._set_toc_from_entries([q.TocEntry("One & only", "c1.xhtml", [q.TocEntry("Heading", "c1.xhtml#a")])])
    return book


BOOK_UUID = "urn:uuid:5d8f3a5e-1c2b-4d6e-8f90-a1b2c3d4e5f6"
IDPF = "http://www.idpf.org/2008/embedding"
ADOBE = "http://ns.adobe.com/pdf/enc#RC"
FONT_BYTES = bytes(range(256)) * 8


def generated_archive(metadata="", prefix="", manifest=(), files=None):
    """A book to read and write again."""
    items = (("c", "c.xhtml", "application/xhtml+xml", None), ("s", "style.css", "text/css", None),
             ("nav", "nav.xhtml", "application/xhtml+xml", "nav")) + manifest
    nav = xhtml("Contents", '<nav xmlns:epub="http://www.idpf.org/2007/ops" epub:type="toc"><ol>'
                '<li><a href="c.xhtml">One</a></li></ol></nav>').replace(b"../style.css", b"style.css")
    return hb.epub({
        "mimetype": b"application/epub+zip", "META-INF/container.xml": hb.container_xml(),
        hb.OPF_PATH: hb.package_xml(items=items, spine=("c",), root_attributes=prefix, metadata=(
            f'<dc:identifier id="uid">{BOOK_UUID}</dc:identifier><dc:title id="t">Read again</dc:title>'
            f'<dc:language>en</dc:language><meta property="dcterms:modified">2024-01-01T00:00:00Z</meta>{metadata}'
        )).replace(b'<spine toc="ncx">', b"<spine>"),
        "OEBPS/c.xhtml": xhtml("One", "<h1>One</h1>").replace(b"../style.css", b"style.css"),
        "OEBPS/nav.xhtml": nav, "OEBPS/style.css": b"p { margin: 0 }", **(files or {})})


def obfuscate(data, identifier, algorithm):
    """Font obfuscation, an independent oracle; it is its own inverse: the first bytes mixed
    with a key from the identifier."""
    if algorithm == IDPF:
        key, count = hashlib.sha1(re.sub(r"[ \t\r\n]", "", identifier).encode()).digest(), 1040
    else:
        key, count = bytes.fromhex(identifier.removeprefix("urn:uuid:").replace("-", "")), 1024
    head = bytes(byte ^ key[index % len(key)] for index, byte in enumerate(data[:count]))
    return head + data[count:]


def obfuscated_font_archive(algorithm=IDPF):
    encryption = ('<?xml version="1.0"?><encryption xmlns="urn:oasis:names:tc:opendocument:xmlns:container" '
                  'xmlns:enc="http://www.w3.org/2001/04/xmlenc#"><enc:EncryptedData>'
                  f'<enc:EncryptionMethod Algorithm="{algorithm}"/><enc:CipherData>'
                  '<enc:CipherReference URI="OEBPS/f.woff"/></enc:CipherData></enc:EncryptedData></encryption>')
    # With a package prefix and refinements the read keeps beyond the described results.
    return generated_archive(
        prefix=' prefix="foo: http://example.org/foo# ibooks: http://vocabulary.itunes.apple.com/rdf/ibooks/vocabulary-extensions-1.0/"',
        metadata=('<dc:creator id="a">Ann</dc:creator><dc:creator id="b">Bo</dc:creator>'
                  '<meta refines="#a" property="display-seq">2</meta><meta refines="#b" property="display-seq">1</meta>'
                  '<meta property="belongs-to-collection" id="series">Series</meta>'
                  '<meta refines="#series" property="group-position">3</meta>'
                  '<meta refines="#t" property="group-position">1</meta>'
                  '<meta property="foo:rating">5</meta><meta property="ibooks:version">1.0</meta>'),
        manifest=(("f", "f.woff", "font/woff", None),), files={"META-INF/encryption.xml": encryption.encode(),
                                    "OEBPS/f.woff": obfuscate(FONT_BYTES, BOOK_UUID, algorithm)})


SCRATCH_BOOKS = {
    "module": module_book,
    "package-helpers": package_book,
    "own-nav-and-ncx": own_nav_and_ncx_book,
    "epub2": epub2_book,
    "read-again": lambda: q._read_epub_bytes(obfuscated_font_archive()),
}


def epubcheck(path):
    """EPUBCheck's messages for one book, from its JSON report."""
    # The report goes to a folder of our own: an original's folder is not ours to write in.
    with tempfile.TemporaryDirectory() as folder:
        report = os.path.join(folder, "report.json")
        result = subprocess.run([*JAVA, path, "--json", report, "-q"], capture_output=True, text=True, timeout=300)
        if not os.path.exists(report):
            raise AssertionError(f"EPUBCheck gave no report for {path}: {result.stderr[-2000:]}")
        with open(report, encoding="utf-8") as handle:
            return json.load(handle)["messages"]


def check_all(paths):
    with ThreadPoolExecutor(PARALLEL) as pool:
        return dict(zip(paths, pool.map(epubcheck, paths)))


def describe(messages):
    return [f"{m['ID']} {m['severity']}: {m['message']} at " + ", ".join(
        f"{loc['path']}:{loc['line']}" for loc in m["locations"]) for m in messages if m["severity"] in SEVERE]


@pytest.fixture(scope="module")
def first_pass(tmp_path_factory):
    """Writes the books built here and every corpus book read again, then checks them all in
    one pool, largest first so that the two lanes finish together."""
    if shutil.which("java") is None or not os.path.exists(JAR):
        pytest.skip(f"EPUBCheck needs java and {JAR}")
    folder = tmp_path_factory.mktemp("epubcheck")
    scratch = {name: str(folder / f"scratch-{name}.epub") for name in SCRATCH_BOOKS}
    rewritten = {path: str(folder / os.path.basename(path)) for path in corpus_books()}
    for name, make in SCRATCH_BOOKS.items():
        q._write_epub(scratch[name], make())
    for path, copy in rewritten.items():
        q._write_epub(copy, q._read_epub(path))
    return scratch, rewritten, check_all(sorted([*scratch.values(), *rewritten.values()], key=os.path.getsize,
                                                reverse=True))


@pytest.mark.parametrize("name", SCRATCH_BOOKS)
def test_books_built_from_scratch_pass(first_pass, name):
    scratch, _, reports = first_pass
    messages = reports[scratch[name]]
    assert not describe(messages), describe(messages)


def package_path(archive):
    """The package document's entry name in an open ZipFile."""
    container = ElementTree.fromstring(archive.read("META-INF/container.xml"))
    return container.find(".//{urn:oasis:names:tc:opendocument:xmlns:container}rootfile").get("full-path")


def error_keys(messages, archive_name, opf_path):
    """Severe messages as (id, entry relative to the package folder); lines and columns dropped."""
    base = opf_path.rpartition("/")[0] + "/" if "/" in opf_path else ""
    named = {opf_path: "<package document>", archive_name: "<archive>"}
    return {(m["ID"], named.get(path, path.removeprefix(base)), m["message"] if m["ID"] == "OPF-028" else "")
            for m in messages if m["severity"] in SEVERE
            for path in [location["path"] or "" for location in m["locations"]] or [""]}


def test_corpus_books_written_again_gain_no_errors(first_pass):
    _, rewritten, reports = first_pass
    if not rewritten:
        pytest.skip("no corpus books")
    # Only an original whose copy has errors needs checking itself.
    flawed = [path for path, copy in rewritten.items() if describe(reports[copy])]
    reports = {**reports, **check_all(flawed)}

    gained = {os.path.basename(original): sorted(
        error_keys(reports[rewritten[original]], os.path.basename(original), "EPUB/content.opf")
        - error_keys(reports[original], os.path.basename(original), package_path(zipfile.ZipFile(original))))
        for original in flawed}
    assert {name: keys for name, keys in gained.items() if keys} == {}


def plain_fonts(data):
    """Each obfuscated font of an archive, de-obfuscated with the key of its unique identifier."""
    enc = "{http://www.w3.org/2001/04/xmlenc#}"
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        package = ElementTree.fromstring(archive.read(package_path(archive)))
        identifier = next(element.text for element in package.iter("{http://purl.org/dc/elements/1.1/}identifier")
                          if element.get("id") == package.get("unique-identifier")).strip()
        encrypted = ElementTree.fromstring(archive.read("META-INF/encryption.xml")).iter(f"{enc}EncryptedData")
        return sorted(obfuscate(archive.read(urllib.parse.unquote(data.find(f".//{enc}CipherReference").get("URI"))),
                                identifier, data.find(f"{enc}EncryptionMethod").get("Algorithm")) for data in encrypted)


def obfuscated_books():
    corpus = [path for path in corpus_books() if os.path.basename(path) == "wasteland-woff-obf.epub"]
    yield from (pytest.param(lambda path=path: open(path, "rb").read(), id="wasteland") for path in corpus)
    for name, algorithm in (("idpf", IDPF), ("adobe", ADOBE)):
        yield pytest.param(lambda algorithm=algorithm: obfuscated_font_archive(algorithm), id=name)


@pytest.mark.parametrize("new_identifier", [None, "urn:uuid:00000000-1111-2222-3333-444444444444"])
@pytest.mark.parametrize("original", list(obfuscated_books()))
def test_obfuscated_fonts_decode_to_the_same_bytes_after_a_round_trip(original, new_identifier):
    data = original()
    fonts = plain_fonts(data)
    assert fonts
    book = q._read_epub_bytes(data)
    if new_identifier:  # written under another key, the fonts are mixed again
        book.set_identifier(new_identifier)
    assert plain_fonts(q._write_epub_bytes(book)) == fonts
