#pragma once
// SHA-1, for the one place the format asks for it: the font obfuscation key.
#include <array>
#include <cstdint>
#include <string_view>

namespace quirelo {

std::array<std::uint8_t, 20> sha1(std::string_view bytes);

}  // namespace quirelo
