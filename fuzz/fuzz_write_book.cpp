// Books built from arbitrary bytes (metadata, items, spine, a table of contents of any
// shape) are written to bytes: the write never crashes, refuses only with one of the
// writer's messages, and a written archive is well framed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/book.hpp"
#include "writer/write_epub.hpp"

namespace {

using namespace quirelo;

std::string pick_text(FuzzedDataProvider& input, std::initializer_list<const char*> usual) {
    if (input.ConsumeBool()) return input.ConsumeRandomLengthString(24);
    const std::size_t index = input.ConsumeIntegralInRange<std::size_t>(0, usual.size() - 1);
    return usual.begin()[index];
}

void add_metadata(FuzzedDataProvider& input, Book& book) {
    const std::string name_space = pick_text(input, {"DC", "OPF", "OTHER"});
    const std::string name = pick_text(
        input, {"identifier", "title", "language", "creator", "date", "cover", "dcterms:modified", "meta", "", "a b"});
    AttributeMap attributes;
    const int count = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        attributes.insert_or_assign(pick_text(input, {"id", "opf:role", "opf:file-as", "opf:scheme", "opf:event",
                                                      "xml:lang", "dir", "property", "name", "content", "", "x y"}),
                                    input.ConsumeRandomLengthString(16));
    }
    append_metadata(book, name_space, name, input.ConsumeRandomLengthString(32), std::move(attributes));
}

void add_item_from(FuzzedDataProvider& input, Book& book) {
    std::string id = pick_text(input, {"c1", "c2", "nav", "ncx", "cover-image"});
    std::string href = pick_text(input, {"c1.xhtml", "c2.xhtml", "nav.xhtml", "toc.ncx", "../mimetype", "content.opf",
                                         "", "..", "a//b/./../c.png", "/x.css"});
    std::string media_type = pick_text(input, {"application/xhtml+xml", "application/x-dtbncx+xml", "image/png", "text/css"});
    const auto type = static_cast<ItemType>(input.ConsumeIntegralInRange<int>(0, ITEM_TYPE_MAX));
    auto item = std::make_shared<Item>(std::move(id), std::move(href), std::move(media_type),
                                       input.ConsumeRandomLengthString(256), type);
    if (input.ConsumeBool()) item->properties = pick_text(input, {"nav", "cover-image", "svg", ""});
    if (input.ConsumeBool()) item->media_overlay = input.ConsumeRandomLengthString(8);
    if (input.ConsumeBool()) item->fallback = input.ConsumeRandomLengthString(8);
    add_item(book, std::move(item));
}

// A tree grown by a walk: descend into a new child, add a sibling, or climb back up.
std::vector<TocEntry> build_toc(FuzzedDataProvider& input) {
    std::vector<TocEntry> toc;
    std::vector<std::vector<TocEntry>*> path{&toc};
    const int steps = input.ConsumeIntegralInRange(0, 400);
    for (int step = 0; step < steps && input.remaining_bytes() > 0; ++step) {
        switch (input.ConsumeIntegralInRange(0, 2)) {
            case 0:
                path.back()->emplace_back(input.ConsumeRandomLengthString(12), pick_text(input, {"", "c1.xhtml#a"}));
                break;
            case 1:
                if (!path.back()->empty()) path.push_back(&path.back()->back().children);
                break;
            default:
                if (path.size() > 1) path.pop_back();
        }
    }
    return toc;
}

bool is_writer_refusal(std::string_view message) {
    return message.starts_with("Book must have") || message.starts_with("ZIP error: ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Book book = book_new();
    book.version = pick_text(input, {"3.0", "2.0", ""});
    const int metadata = input.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < metadata; ++i) add_metadata(input, book);
    const int items = input.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < items; ++i) add_item_from(input, book);
    const int spine = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < spine; ++i) {
        book.spine.push_back({pick_text(input, {"c1", "c2"}), std::nullopt, input.ConsumeBool()});
        if (input.ConsumeBool()) book.spine.back().properties = input.ConsumeRandomLengthString(8);
    }
    book.toc = build_toc(input);

    auto archive = write_epub_bytes(book);
    if (!archive) {
        if (!is_writer_refusal(archive.error().message())) __builtin_trap();
        return 0;
    }
    // Local header of "mimetype" first, end record (no comment) last.
    const std::string_view bytes = *archive;
    if (!bytes.starts_with(std::string_view("PK\x03\x04", 4)) || bytes.substr(30, 8) != "mimetype") __builtin_trap();
    if (bytes.size() < 22 || bytes.substr(bytes.size() - 22, 4) != std::string_view("PK\x05\x06", 4)) __builtin_trap();
    return 0;
}
