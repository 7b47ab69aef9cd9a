#pragma once
// Table-of-contents entries. Trees built by callers can be arbitrarily deep, so copying
// and destroying never recurse on the C stack.
#include <cstddef>
#include <string>
#include <vector>

namespace quirelo {

struct TocEntry {
    std::string title;
    std::string href;
    std::vector<TocEntry> children;

    TocEntry() = default;
    TocEntry(std::string title_text, std::string href_text, std::vector<TocEntry> child_entries = {})
        : title(std::move(title_text)), href(std::move(href_text)), children(std::move(child_entries)) {}
    TocEntry(const TocEntry& other);
    TocEntry(TocEntry&& other) noexcept = default;
    TocEntry& operator=(const TocEntry& other);
    TocEntry& operator=(TocEntry&& other) noexcept;
    ~TocEntry();

    bool operator==(const TocEntry& other) const;
};

// Number of entries in the trees, counted without recursion.
std::size_t count_toc_entries(const std::vector<TocEntry>& entries);

// Deepest level of the trees (a flat list has depth 1, an empty one 0).
std::size_t toc_depth(const std::vector<TocEntry>& entries);

}  // namespace quirelo
