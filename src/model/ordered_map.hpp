#pragma once
// A string-keyed map that remembers insertion order, with hashed lookup. The metadata
// store uses it at every level so that writing the same book twice gives the same bytes.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quirelo {

struct TransparentStringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

template <class Value>
class OrderedMap {
public:
    using Entry = std::pair<std::string, Value>;

    const Value* find(std::string_view key) const {
        auto found = index_.find(key);
        return found == index_.end() ? nullptr : &entries_[found->second].second;
    }
    Value* find(std::string_view key) {
        auto found = index_.find(key);
        return found == index_.end() ? nullptr : &entries_[found->second].second;
    }

    // The value under key, default-constructed and appended when absent.
    Value& get_or_insert(std::string_view key) {
        if (auto* value = find(key)) return *value;
        index_.emplace(std::string(key), entries_.size());
        return entries_.emplace_back(std::string(key), Value{}).second;
    }

    // Replaces the value of an existing key in place (keeping its position) or appends.
    void insert_or_assign(std::string_view key, Value value) { get_or_insert(key) = std::move(value); }

    template <class Predicate>
    void erase_if(Predicate&& remove) {
        std::erase_if(entries_, [&](Entry& entry) { return remove(entry.first, entry.second); });
        index_.clear();
        for (std::size_t position = 0; position < entries_.size(); ++position) {
            index_.emplace(entries_[position].first, position);
        }
    }

    void reserve(std::size_t count) {
        entries_.reserve(count);
        index_.reserve(count);
    }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }
    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }

    bool operator==(const OrderedMap& other) const { return entries_ == other.entries_; }

private:
    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::size_t, TransparentStringHash, std::equal_to<>> index_;
};

}  // namespace quirelo
