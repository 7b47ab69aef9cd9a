#include "model/toc.hpp"

#include <new>
#include <utility>

namespace quirelo {

namespace {

// Moves every descendant into one flat list before anything is destroyed, so each
// destructor that runs afterwards sees an entry without children.
// Runs in destructors, so it must not throw: should the list fail to grow, what is left
// is destroyed the plain way, one level of recursion per level of the tree.
void dismantle(std::vector<TocEntry>& children) noexcept {
    if (children.empty()) return;
    std::vector<TocEntry> pending = std::move(children);
    children.clear();
    try {
        while (!pending.empty()) {
            TocEntry entry = std::move(pending.back());
            pending.pop_back();
            for (auto& child : entry.children) pending.push_back(std::move(child));
            entry.children.clear();
        }
    } catch (const std::bad_alloc&) {
    }
}

void copy_children(const TocEntry& source, TocEntry& target) {
    struct Step {
        const TocEntry* source;
        TocEntry* target;
    };
    std::vector<Step> stack{{&source, &target}};
    while (!stack.empty()) {
        Step step = stack.back();
        stack.pop_back();
        auto& out = step.target->children;
        out.reserve(step.source->children.size());  // exact: pointers below stay valid
        for (const auto& child : step.source->children) {
            auto& copy = out.emplace_back(child.title, child.href);
            if (!child.children.empty()) stack.push_back({&child, &copy});
        }
    }
}

}  // namespace

TocEntry::TocEntry(const TocEntry& other) : title(other.title), href(other.href) {
    copy_children(other, *this);
}

TocEntry& TocEntry::operator=(const TocEntry& other) {
    if (this != &other) {
        TocEntry copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TocEntry& TocEntry::operator=(TocEntry&& other) noexcept {
    if (this != &other) {
        dismantle(children);
        title = std::move(other.title);
        href = std::move(other.href);
        children = std::move(other.children);
    }
    return *this;
}

TocEntry::~TocEntry() { dismantle(children); }

bool TocEntry::operator==(const TocEntry& other) const {
    std::vector<std::pair<const TocEntry*, const TocEntry*>> stack{{this, &other}};
    while (!stack.empty()) {
        auto [left, right] = stack.back();
        stack.pop_back();
        if (left->title != right->title || left->href != right->href ||
            left->children.size() != right->children.size()) {
            return false;
        }
        for (std::size_t i = 0; i < left->children.size(); ++i) {
            stack.emplace_back(&left->children[i], &right->children[i]);
        }
    }
    return true;
}

std::size_t count_toc_entries(const std::vector<TocEntry>& entries) {
    std::size_t count = 0;
    std::vector<const std::vector<TocEntry>*> stack{&entries};
    while (!stack.empty()) {
        const auto* list = stack.back();
        stack.pop_back();
        count += list->size();
        for (const auto& entry : *list) {
            if (!entry.children.empty()) stack.push_back(&entry.children);
        }
    }
    return count;
}

std::size_t toc_depth(const std::vector<TocEntry>& entries) {
    std::size_t deepest = 0;
    std::vector<std::pair<const std::vector<TocEntry>*, std::size_t>> stack{{&entries, 1}};
    while (!stack.empty()) {
        auto [list, depth] = stack.back();
        stack.pop_back();
        if (list->empty()) continue;
        if (depth > deepest) deepest = depth;
        for (const auto& entry : *list) {
            if (!entry.children.empty()) stack.emplace_back(&entry.children, depth + 1);
        }
    }
    return deepest;
}

}  // namespace quirelo
