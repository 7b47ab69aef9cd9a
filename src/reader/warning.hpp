#pragma once
// Warning lines on standard error.
#include <string_view>

namespace quirelo {

// Writes the whole line with one write(2) (retried only for the unwritten rest), so lines
// from concurrent readers never interleave mid-line.
void write_warning_line(std::string_view line);

}  // namespace quirelo
