#include "reader/allocator_policy.hpp"

#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quirelo {

namespace {

// A choice the user made with glibc's own variables stays theirs.
bool environment_chose(const char* variable, const char* tunable) {
    if (std::getenv(variable) != nullptr) return true;
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    return tunables != nullptr && std::strstr(tunables, tunable) != nullptr;
}

}  // namespace

void keep_freed_memory_for_reuse() noexcept {
#if defined(__GLIBC__)
    [[maybe_unused]] static const bool applied = [] {
        if (!environment_chose("MALLOC_TRIM_THRESHOLD_", "malloc.trim_threshold")) {
            mallopt(M_TRIM_THRESHOLD, 64 << 20);
        }
        if (!environment_chose("MALLOC_MMAP_THRESHOLD_", "malloc.mmap_threshold")) {
            mallopt(M_MMAP_THRESHOLD, 32 << 20);
        }
        return true;
    }();
#endif
}

}  // namespace quirelo
