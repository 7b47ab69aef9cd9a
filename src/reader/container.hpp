#pragma once
// META-INF/container.xml: where the package document is.
#include <string>
#include <string_view>

#include "model/epub_vocabulary.hpp"
#include "model/error.hpp"

namespace quirelo {

// The "full-path" of the first namespaced rootfile that has one, exactly as written.
Result<std::string> parse_container(std::string_view bytes);

}  // namespace quirelo
