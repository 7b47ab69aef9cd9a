#include "reader/warning.hpp"

#include <unistd.h>

#include <cerrno>

namespace quirelo {

void write_warning_line(std::string_view line) {
    while (!line.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // a warning never stops the operation
        }
        line.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace quirelo
