#include "reader/refinements.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <unordered_set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/epub_vocabulary.hpp"

namespace quirelo {

namespace {

bool is_folded_property(std::string_view property) {
    for (auto folded : FOLDED_PROPERTIES) {
        if (property == folded) return true;
    }
    return false;
}

}  // namespace

void fold_refinements(MetadataStore& store) {
    MetadataNames* dublin_core = store.find(DC_NAMESPACE);
    MetadataNames* package = store.find(OPF_NAMESPACE);
    if (!dublin_core || !package) return;

    // The DC lists are not resized below, so these pointers stay valid; the ids are copied
    // because adding attributes to an entry moves its attribute strings.
    std::unordered_map<std::string, MetadataEntry*> by_id;
    for (auto& [name, entries] : *dublin_core) {
        for (auto& entry : entries) {
            if (const std::string* id = entry.attributes.find("id")) by_id.try_emplace(*id, &entry);
        }
    }
    if (by_id.empty()) return;

    std::unordered_set<std::string_view> emptied;
    std::string key;
    for (auto& [name, entries] : *package) {
        const bool had_entries = !entries.empty();
        std::erase_if(entries, [&](MetadataEntry& meta) {
            const std::string* refines = meta.attributes.find(REFINES_ATTRIBUTE);
            const std::string* property = meta.attributes.find("property");
            if (!refines || !property || !is_folded_property(*property)) return false;
            std::string_view target = *refines;
            target.remove_prefix(std::min(target.find_first_not_of('#'), target.size()));
            auto found = by_id.find(std::string(target));
            if (found == by_id.end()) return false;
            key = "opf:";
            key += *property;
            found->second->attributes.insert_or_assign(key, std::move(meta.value));
            return true;
        });
        if (had_entries && entries.empty()) emptied.insert(name);
    }
    if (emptied.empty()) return;
    // Copied out first: erase_if moves the names the views point into.
    std::unordered_set<std::string> emptied_names(emptied.begin(), emptied.end());
    package->erase_if([&](const std::string& name, const auto&) { return emptied_names.contains(name); });
}

}  // namespace quirelo
