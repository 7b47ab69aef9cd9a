#pragma once
// META-INF/container.xml: where the package document is.
#include <string>
#include <string_view>

#include "model/error.hpp"

namespace quirelo {

inline constexpr std::string_view CONTAINER_NAMESPACE_URI = "urn:oasis:names:tc:opendocument:xmlns:container";

// The "full-path" of the first namespaced rootfile that has one, exactly as written.
Result<std::string> parse_container(std::string_view bytes);

}  // namespace quirelo
