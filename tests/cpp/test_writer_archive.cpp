#include <gtest/gtest.h>
#include <zip.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "writer/archive_plan.hpp"
#include "writer/navigation_documents.hpp"
#include "writer/package_document.hpp"
#include "writer/write_book.hpp"
#include "writer/write_epub.hpp"

using namespace quirelo;
using namespace quirelo::testing;

namespace {

std::uint16_t get16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}
std::uint32_t get32(std::string_view bytes, std::size_t at) {
    return get16(bytes, at) | static_cast<std::uint32_t>(get16(bytes, at + 2)) << 16;
}

struct RawEntry {
    std::string name;
    std::uint16_t flags, method, time, date;
    std::uint32_t compressed_size, size, offset;
    std::string data;  // as the ZIP library reads it back
};

// Walks the local headers as written, checks that the central directory repeats them
// and that nothing optional is present (extra fields, descriptors, comments), then reads
// every entry back through the ZIP library, whose consistency checks hold the end record
// to the central directory, and whose CRC test runs at each entry's end.
std::vector<RawEntry> parse_archive(const std::string& archive) {
    std::vector<RawEntry> entries;
    std::size_t at = 0;
    while (at + 30 <= archive.size() && get32(archive, at) == 0x04034b50) {
        const std::uint16_t name_size = get16(archive, at + 26);
        EXPECT_EQ(get16(archive, at + 28), 0) << "local extra field";
        entries.push_back({archive.substr(at + 30, name_size), get16(archive, at + 6), get16(archive, at + 8),
                           get16(archive, at + 10), get16(archive, at + 12), get32(archive, at + 18),
                           get32(archive, at + 22), static_cast<std::uint32_t>(at), {}});
        at += 30 + name_size + entries.back().compressed_size;
    }
    for (const RawEntry& entry : entries) {
        EXPECT_EQ(get32(archive, at), 0x02014b50u);
        EXPECT_EQ(archive.substr(at + 6, 26), archive.substr(entry.offset + 4, 26)) << "version to extra field size";
        EXPECT_EQ(get16(archive, at + 32), 0) << "comment";
        EXPECT_EQ(get32(archive, at + 42), entry.offset);
        at += 46 + get16(archive, at + 28);
    }
    EXPECT_EQ(archive.size(), at + 22) << "an end record without comment";

    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    zip_t* zip = zip_open_from_source(source, ZIP_CHECKCONS | ZIP_RDONLY, &error);
    if (zip == nullptr) {
        ADD_FAILURE() << zip_error_strerror(&error);
        zip_source_free(source);
        return entries;
    }
    EXPECT_EQ(zip_get_num_entries(zip, 0), static_cast<zip_int64_t>(entries.size()));
    for (std::size_t index = 0; index < entries.size(); ++index) {
        RawEntry& entry = entries[index];
        EXPECT_STREQ(zip_get_name(zip, index, ZIP_FL_ENC_RAW), entry.name.c_str());
        entry.data.resize(entry.size);
        zip_file_t* file = zip_fopen_index(zip, index, 0);
        EXPECT_EQ(zip_fread(file, entry.data.data(), entry.size), static_cast<zip_int64_t>(entry.size));
        char probe;
        EXPECT_EQ(zip_fread(file, &probe, 1), 0) << "CRC checked at the end of " << entry.name;
        zip_fclose(file);
    }
    zip_discard(zip);
    return entries;
}

std::vector<std::string> names(const std::vector<RawEntry>& entries) {
    std::vector<std::string> result;
    for (const auto& entry : entries) result.push_back(entry.name);
    return result;
}

std::string written(const Book& book) {
    auto bytes = write_epub_bytes(book);
    EXPECT_TRUE(bytes.has_value()) << bytes.error().message();
    return bytes ? *bytes : std::string();
}

template <class T>
std::string error_message(const Result<T>& result) { return result ? "" : result.error().message(); }

// A book whose package document does not depend on the clock.
Book stamped_book(std::string version = "3.0") {
    Book book = minimal_book(std::move(version));
    append_metadata(book, "OPF", "dcterms:modified", "2020-01-01T00:00:00Z", {});
    return book;
}

std::string binary_bytes(std::size_t size) {  // which DEFLATE cannot shrink
    std::string bytes(size, '\0');
    std::mt19937 random(12345);
    for (char& byte : bytes) byte = static_cast<char>(random() >> 24);
    return bytes;
}

std::atomic<int> lazy_loads{0};

std::string load_from_test_source(const LazySource& source) {
    ++lazy_loads;
    return source.entry_name == "fail" ? std::string() : "loaded:" + source.entry_name;
}

ItemHandle lazy_item(std::string id, std::string href, std::string media_type, std::string entry, ItemType type) {
    LazySource source{std::move(entry), std::make_shared<const std::string>("image"), &load_from_test_source};
    return std::make_shared<Item>(std::move(id), std::move(href), std::move(media_type), std::move(source), type);
}

}  // namespace

TEST(WriterArchive, LayoutOrderMethodsDatesAndContents) {
    Book book = stamped_book();
    // Present but empty values satisfy the preconditions.
    for (const char* name : {"identifier", "title", "language"}) set_dc_value(book, name, "");
    book.toc = {TocEntry("One", "ch1.xhtml")};
    const std::string image = binary_bytes(100'000);
    add(book, {"img", "images/pic.png", "image/png", image, ITEM_IMAGE});
    add(book, {"css", "style/../main.css", "text/css", std::string(50'000, 'a'), ITEM_STYLE});
    add(book, {"empty", "empty.txt", "text/plain", "", ITEM_OTHER});
    add(book, {"accent", "\xC3\xA9.xhtml", "application/xhtml+xml", "x"});
    add(book, {"top", "../top.txt", "text/plain", "t", ITEM_OTHER});

    const std::string archive = written(book);
    const TempDir dir;  // the file sink gathers small writes and passes large ones through: the same bytes
    ASSERT_TRUE(write_epub_file(book, dir.file("book.epub")).has_value());
    std::ifstream file(dir.file("book.epub"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), archive);
    const auto entries = parse_archive(archive);
    ASSERT_EQ(names(entries), (std::vector<std::string>{"mimetype", "META-INF/container.xml", "EPUB/content.opf",
                                                        "EPUB/ch1.xhtml", "EPUB/images/pic.png", "EPUB/main.css",
                                                        "EPUB/empty.txt", "EPUB/\xC3\xA9.xhtml", "top.txt",
                                                        "EPUB/nav.xhtml"}));
    for (const RawEntry& entry : entries) {
        EXPECT_EQ(entry.method, entry.name == "mimetype" ? 0 : 8) << entry.name;
        EXPECT_EQ(std::tuple(entry.date, entry.time), std::tuple(0x0021, 0)) << entry.name;
        EXPECT_EQ(entry.flags, entry.name.starts_with("EPUB/\xC3") ? 1 << 11 : 0) << "UTF-8 name flag";
    }
    EXPECT_EQ(std::tuple(entries[0].offset, entries[0].data, entries[0].compressed_size),
              std::tuple(0u, "application/epub+zip", 20u));
    EXPECT_EQ(std::tuple(entries[1].data, entries[1].size), std::tuple(CONTAINER_DOCUMENT, 250u));
    EXPECT_EQ(entries[2].data, generate_opf(book, false, true, fixed_time()));
    EXPECT_EQ(entries[3].data, "<html/>");
    EXPECT_EQ(entries[4].data, image);
    EXPECT_LT(entries[5].compressed_size, 1'000u);
    EXPECT_EQ(entries[5].data, std::string(50'000, 'a'));
    EXPECT_EQ(entries[9].data, generate_nav(book.toc));
}

TEST(WriterArchive, GeneratedNavigationAndNcx) {
    // EPUB 2: no added nav; empty NCX and nav items get generated documents.
    Book book = stamped_book("2.0");
    book.toc = {TocEntry("One", "ch1.xhtml", {TocEntry("Two", "ch1.xhtml#2")})};
    add(book, {"ncx", "toc.ncx", "application/x-dtbncx+xml", "", ITEM_NAVIGATION});
    add(book, {"nav", "nav.xhtml", "application/xhtml+xml", "", ITEM_NAVIGATION});
    add(book, {"ncx2", "again.ncx", "application/x-dtbncx+xml", "", ITEM_OTHER});
    add(book, {"html-nav", "n.html", "text/html", "", ITEM_NAVIGATION});
    auto entries = parse_archive(written(book));
    EXPECT_EQ(names(entries).back(), "EPUB/n.html");
    EXPECT_EQ(entries[4].data, generate_ncx(book, "urn:x"));
    EXPECT_EQ(entries[5].data, generate_nav(book.toc));
    EXPECT_EQ(entries[6].data, generate_ncx(book, "urn:x"));
    EXPECT_EQ(entries[7].data, "");
    EXPECT_NE(entries[2].data.find("  <spine toc=\"ncx\">\n"), std::string::npos);

    // Items with content are written verbatim, and a nav item stops the added one.
    Book kept = stamped_book("3.0");
    add(kept, {"ncx", "toc.ncx", "application/x-dtbncx+xml", "own ncx", ITEM_NAVIGATION});
    add(kept, {"nav", "nav.xhtml", "application/xhtml+xml", "own nav", ITEM_NAVIGATION, "nav"});
    entries = parse_archive(written(kept));
    ASSERT_EQ(entries.size(), 6u) << "no added nav (its manifest line follows the same plan)";
    EXPECT_EQ(entries[4].data, "own ncx");
    EXPECT_EQ(entries[5].data, "own nav");
}

struct RefusalCase {
    const char* label;
    void (*spoil)(Book&);
    std::string message;
};

class WriterRefusal : public ::testing::TestWithParam<RefusalCase> {};

// The same message through both sinks, before any file is made (test_atomic_write.py: an
// existing file outlives a write that fails later).
TEST_P(WriterRefusal, BeforeAnyFileIsMade) {
    Book book = stamped_book();
    GetParam().spoil(book);
    EXPECT_EQ(error_message(write_epub_bytes(book)), GetParam().message);
    const TempDir dir;
    EXPECT_EQ(error_message(write_epub_file(book, dir.file("absent.epub"))), GetParam().message);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

void drop_dc(Book& book, std::string_view name) {
    book.metadata.find("DC")->erase_if([name](const std::string& key, auto&) { return key == name; });
}

const std::string DUPLICATE = "ZIP error: invalid Zip archive: Duplicate filename: ";

INSTANTIATE_TEST_SUITE_P(
    Cases, WriterRefusal,
    ::testing::Values(
        RefusalCase{"NothingSet", [](Book& b) { b.metadata = {}; b.spine.clear(); },
                    "Book must have an identifier set"},
        RefusalCase{"NoTitle", [](Book& b) { drop_dc(b, "title"); }, "Book must have a title set"},
        RefusalCase{"NoLanguageNorSpine", [](Book& b) { drop_dc(b, "language"); b.spine.clear(); },
                    "Book must have a language set"},
        RefusalCase{"EmptySpine", [](Book& b) { b.spine.clear(); }, "Book must have at least one spine entry"},
        RefusalCase{"SameHrefTwice",
                    [](Book& b) {
                        add(b, {"a", "a.xhtml", "text/plain", "1"});
                        add(b, {"b", "./x/../a.xhtml", "text/plain", "2"});
                    },
                    DUPLICATE + "EPUB/a.xhtml"},
        RefusalCase{"ItemAtMimetype", [](Book& b) { add(b, {"m", "../mimetype", "text/plain", "x"}); },
                    DUPLICATE + "mimetype"},
        RefusalCase{"ItemAtPackage", [](Book& b) { add(b, {"m", "content.opf", "text/plain", "x"}); },
                    DUPLICATE + "EPUB/content.opf"},
        RefusalCase{"ItemAtAddedNav", [](Book& b) { add(b, {"m", "nav.xhtml", "application/xhtml+xml", "x"}); },
                    DUPLICATE + "EPUB/nav.xhtml"},
        RefusalCase{"PreconditionBeforeDuplicate",
                    [](Book& b) { add(b, {"m", "content.opf", "text/plain", "x"}); b.spine.clear(); },
                    "Book must have at least one spine entry"},
        RefusalCase{"NameTooLong", [](Book& b) { add(b, {"m", std::string(70'000, 'n'), "text/plain", "x"}); },
                    "ZIP error: entry name of 70005 bytes is longer than 65535"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(WriterArchive, TooManyEntries) {
    Book book = stamped_book();
    for (int i = 0; i < 0xFFFF; ++i) add(book, {"i", std::to_string(i), "text/plain", ""});
    EXPECT_EQ(error_message(write_epub_bytes(book)), "ZIP error: 65540 entries do not fit in an archive without ZIP64");
}

TEST(WriterArchive, FileErrors) {
    const Book book = stamped_book();
    TempDir dir;
    EXPECT_EQ(error_message(write_epub_file(book, dir.file("no/such/folder.epub"))),
              "IO error: No such file or directory (os error 2)");
    EXPECT_EQ(error_message(write_epub_file(book, dir.file("a") + std::string("\0b", 2))),
              "IO error: file name contained an unexpected NUL byte");
    EXPECT_FALSE(std::filesystem::exists(dir.file("a")));
    if (std::filesystem::exists("/dev/full")) {
        Book big = stamped_book();
        add(big, {"big", "big.bin", "application/octet-stream", binary_bytes(300'000), ITEM_OTHER});
        EXPECT_EQ(error_message(write_epub_file(big, "/dev/full")), "IO error: No space left on device (os error 28)");
    }
}

TEST(WriterArchive, LazyItemsAreLoadedOnceThroughTheirCell) {
    Book book = stamped_book();
    const ItemHandle chapter = lazy_item("c2", "c2.xhtml", "application/xhtml+xml", "EPUB/c2.xhtml", ITEM_DOCUMENT);
    add_item(book, chapter);
    add_item(book, lazy_item("ncx", "toc.ncx", "application/x-dtbncx+xml", "fail", ITEM_NAVIGATION));
    add_item(book, lazy_item("gone", "gone.png", "image/png", "fail", ITEM_IMAGE));
    lazy_loads = 0;
    EXPECT_FALSE(chapter->content.is_set());

    const std::string first = written(book);
    EXPECT_EQ(lazy_loads, 3);
    EXPECT_TRUE(chapter->content.is_set());
    EXPECT_EQ(written(book), first);
    EXPECT_EQ(lazy_loads, 3);

    const auto entries = parse_archive(first);
    EXPECT_EQ(entries[4].data, "loaded:EPUB/c2.xhtml");
    EXPECT_EQ(entries[6].data, "");
}

TEST(WriterArchive, MillionLevelTocsAreWritten) {
    Book book = stamped_book();
    add(book, {"ncx", "toc.ncx", "application/x-dtbncx+xml", "", ITEM_NAVIGATION});
    // A chain with one target at every level; then one without hrefs, which the NCX
    // collapses to its leaf.
    for (const std::string href : {"ch1.xhtml", ""}) {
        TocEntry entry(href.empty() ? "leaf" : "t", href.empty() ? "leaf.xhtml" : href);
        for (int level = 1; level < 1'000'000; ++level) {
            TocEntry parent("t", href);
            parent.children.push_back(std::move(entry));
            entry = std::move(parent);
        }
        book.toc.push_back(std::move(entry));
    }
    const auto entries = parse_archive(written(book));
    auto count = [](const std::string& text, std::string_view needle) {
        std::size_t found = 0;
        for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++found;
        return found;
    };
    ASSERT_EQ(entries.back().name, "EPUB/nav.xhtml");
    const std::string& nav = entries.back().data;
    for (const char* tag : {"<ol>\n", "</ol>\n"}) EXPECT_EQ(count(nav, tag), 1'999'999u) << tag;
    EXPECT_EQ(count(nav, "</li>\n"), 2'000'000u);
    EXPECT_LT(nav.size(), 200'000'000u);  // linear in depth
    EXPECT_NE(nav.find("<li><a href=\"leaf.xhtml\">leaf</a></li>\n"), std::string::npos);
    EXPECT_TRUE(nav.ends_with("    </ol>\n  </nav>\n</body>\n</html>\n"));
    const std::string& ncx = entries[4].data;
    EXPECT_EQ(count(ncx, "</navPoint>\n"), 1'000'001u);
    EXPECT_NE(ncx.find("<navPoint id=\"np1000000\" playOrder=\"1\">"), std::string::npos);  // one target
    EXPECT_NE(ncx.find("    <navPoint id=\"np1000001\" playOrder=\"2\">\n      <navLabel><text>leaf</text>"),
              std::string::npos);
    EXPECT_TRUE(ncx.ends_with("    </navPoint>\n  </navMap>\n</ncx>\n"));
}
