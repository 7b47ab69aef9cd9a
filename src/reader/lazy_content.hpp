#pragma once
// The loader of lazily read items, run once per item through its content cell.
#include <string>

#include "model/item.hpp"

namespace quirelo {

// Opens the shared archive image afresh and reads the item's entry. Every failure gives
// empty bytes; only an entry over MAX_ENTRY_SIZE says so, with a warning line.
std::string load_lazy_content(const LazySource& source);

}  // namespace quirelo
