#pragma once
// Everything decided about an archive before a byte of it is written: whether the book
// may be written at all, which generated documents it gets, and every entry's name.
// Settling this first lets a refused book leave an existing output file untouched.
#include <string>
#include <string_view>
#include <vector>

#include "model/book.hpp"
#include "model/epub_vocabulary.hpp"
#include "model/error.hpp"

namespace quirelo {

inline constexpr std::string_view PACKAGE_ENTRY = "EPUB/content.opf";
inline constexpr std::string_view NAV_ENTRY = "EPUB/nav.xhtml";
// Items are stored relative to the package document's folder.
inline constexpr std::string_view ITEM_BASE = "EPUB/";

struct ArchivePlan {
    bool has_ncx = false;       // some item has the NCX media type
    bool add_nav = false;       // EPUB 3 without its own navigation document: add NAV_ENTRY
    std::string_view unique_id;  // value of the first DC identifier (borrowed from the book)
    std::vector<std::string> item_entry_names;  // one per item, in item order
    bool has_obfuscated_fonts = false;  // write ENCRYPTION_ENTRY declaring them
};

// Tests the four preconditions in order (identifier, title, language, spine), then
// refuses an entry name met twice, naming it as a ZIP library would.
Result<ArchivePlan> plan_archive(const Book& book);

}  // namespace quirelo
