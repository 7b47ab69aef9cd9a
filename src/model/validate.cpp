#include "model/validate.hpp"

#include <string_view>
#include <unordered_set>

#include "model/epub_vocabulary.hpp"

namespace quirelo {

namespace {
std::string concatenated(std::string_view prefix, std::string_view value, std::string_view suffix) {
    std::string text;
    text.reserve(prefix.size() + value.size() + suffix.size());
    text.append(prefix).append(value).append(suffix);
    return text;
}

template <class Field>
void report_duplicates(const Book& book, Field field, std::string_view prefix, std::vector<std::string>& issues) {
    std::unordered_set<std::string_view> seen;
    seen.reserve(book.items.size());
    for (const auto& item : book.items) {
        std::string_view value = field(*item);
        if (!seen.insert(value).second) issues.push_back(concatenated(prefix, value, "'"));
    }
}
}  // namespace

std::vector<std::string> validate_book(const Book& book) {
    std::vector<std::string> issues;
    for (const RequiredMetadata& required : REQUIRED_METADATA) {
        if (!first_dc_value(book, required.name)) {
            issues.push_back(concatenated("Missing required metadata: DC:", required.name, ""));
        }
    }
    if (book.spine.empty()) {
        issues.emplace_back("Spine is empty \u2014 at least one content document is required");
    } else {
        for (const auto& entry : book.spine) {
            if (!book.id_index.contains(entry.idref)) {
                issues.push_back(concatenated("Spine references item '", entry.idref, "' which is not in the manifest"));
            }
        }
    }
    report_duplicates(book, [](const Item& item) -> std::string_view { return item.id; }, "Duplicate item ID: '",
                      issues);
    report_duplicates(book, [](const Item& item) -> std::string_view { return item.href; },
                      "Duplicate item href: '", issues);
    bool has_navigation = false;
    for (const auto& item : book.items) has_navigation = has_navigation || item->item_type == ITEM_NAVIGATION;
    if (!has_navigation) issues.emplace_back("No navigation item (NCX or Nav document) found");
    return issues;
}

}  // namespace quirelo
