#!/usr/bin/env python3
"""Writes the small books that seed fuzz_read_bytes into ../read_bytes/ (run once; the
output is committed). Every book is made here, from scratch."""
import pathlib
import zipfile
import zlib

OUT = pathlib.Path(__file__).resolve().parent / "seeds" / "read_bytes"

CONTAINER = ('<?xml version="1.0"?><container version="1.0" '
             'xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles>'
             '<rootfile full-path="{}" media-type="application/oebps-package+xml"/></rootfiles></container>')

OPF = ('<?xml version="1.0" encoding="UTF-8"?><package xmlns="http://www.idpf.org/2007/opf" version="3.0" '
       'xmlns:dc="http://purl.org/dc/elements/1.1/"><metadata><dc:title>T</dc:title>'
       '<dc:creator id="c">A</dc:creator><meta refines="#c" property="role">aut</meta>'
       '<meta property="dcterms:modified">2020-01-01T00:00:00Z</meta></metadata><manifest>'
       '<item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>'
       '<item id="c1" href="c1.xhtml" media-type="application/xhtml+xml"/>'
       '<item id="img" href="img/a.png" media-type="image/png" properties="cover-image"/>'
       '<item id="ncx" href="toc.ncx" media-type="application/x-dtbncx+xml"/>'
       '</manifest><spine toc="ncx"><itemref idref="c1"/><itemref idref="nav" linear="no"/></spine></package>')

NAV = ('<?xml version="1.0"?><html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops">'
       '<body><nav epub:type="toc"><ol><li><a href="c1.xhtml">One</a><ol><li><span>Sub</span></li></ol></li>'
       '</ol></nav></body></html>')

NCX = ('<?xml version="1.0"?><ncx xmlns="http://www.daisy.org/z3986/2005/ncx/" version="2005-1"><navMap>'
       '<navPoint id="p"><navLabel><text>One</text></navLabel><content src="c1.xhtml"/></navPoint>'
       '</navMap></ncx>')

# Font obfuscation for one item (read), and an encryption method the reader leaves alone.
ENCRYPTION = ('<?xml version="1.0"?><encryption xmlns="urn:oasis:names:tc:opendocument:xmlns:container" '
              'xmlns:enc="http://www.w3.org/2001/04/xmlenc#"><enc:EncryptedData>'
              '<enc:EncryptionMethod Algorithm="http://www.idpf.org/2008/embedding"/><enc:CipherData>'
              '<enc:CipherReference URI="OEBPS/img/a%2Epng"/></enc:CipherData></enc:EncryptedData>'
              '<enc:EncryptedData><enc:EncryptionMethod Algorithm="http://www.w3.org/2001/04/xmlenc#aes128-cbc"/>'
              '<enc:CipherData><enc:CipherReference URI="OEBPS/c1.xhtml"/></enc:CipherData></enc:EncryptedData>'
              '</encryption>')

CHAPTER = '<html xmlns="http://www.w3.org/1999/xhtml"><body><p>Hello &amp; welcome.</p></body></html>'


def put(archive, name, data, method=zipfile.ZIP_DEFLATED):
    # A fixed time stamp keeps the seeds byte-identical from run to run.
    archive.writestr(zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0)), data, compress_type=method)


def book(path, opf_path="OEBPS/content.opf", method=zipfile.ZIP_DEFLATED, nav=NAV, extra=()):
    base = opf_path.rpartition("/")[0]
    prefix = base + "/" if base else ""
    with zipfile.ZipFile(path, "w") as archive:
        put(archive, "mimetype", "application/epub+zip", zipfile.ZIP_STORED)
        put(archive, "META-INF/container.xml", CONTAINER.format(opf_path), method)
        put(archive, opf_path, OPF, method)
        put(archive, prefix + "nav.xhtml", nav, method)
        put(archive, prefix + "c1.xhtml", CHAPTER, method)
        put(archive, prefix + "img/a.png", b"\x89PNG\r\n\x1a\n" + bytes(range(64)), method)
        put(archive, prefix + "toc.ncx", NCX, method)
        for name, data in extra:
            put(archive, name, data, method)


def main():
    OUT.mkdir(exist_ok=True)
    book(OUT / "deflated.epub")
    book(OUT / "stored.epub", method=zipfile.ZIP_STORED)
    book(OUT / "root_opf.epub", opf_path="content.opf")
    book(OUT / "nav_doctype.epub", nav="<!DOCTYPE html>" + NAV)
    book(OUT / "encryption.epub", extra=[("META-INF/encryption.xml", ENCRYPTION)])
    with zipfile.ZipFile(OUT / "minimal.epub", "w") as archive:
        put(archive, "META-INF/container.xml", CONTAINER.format("p.opf"))
        put(archive, "p.opf", "<package/>")
    # A stored chapter whose recorded CRC is wrong.
    data = bytearray((OUT / "stored.epub").read_bytes())
    crc = zlib.crc32(CHAPTER.encode()).to_bytes(4, "little")
    position = data.find(crc)
    data[position] ^= 0xFF
    (OUT / "bad_crc.epub").write_bytes(bytes(data))
    damaged()


def damaged():
    """Damage the fuzzer grows from (the Python tests pin one case of each): archives cut
    inside the central directory and inside local data, and a wrong entry count."""
    deflated, stored = (OUT / "deflated.epub").read_bytes(), (OUT / "stored.epub").read_bytes()
    (OUT / "cut_in_directory.epub").write_bytes(deflated[:deflated.index(b"PK\x01\x02") + 20])
    (OUT / "cut_in_local_data.epub").write_bytes(stored[:len(stored) // 2])
    count = bytearray(deflated)
    count[deflated.rindex(b"PK\x05\x06") + 10] ^= 0x01
    (OUT / "wrong_entry_count.epub").write_bytes(bytes(count))


if __name__ == "__main__":
    main()
