#pragma once
// The corpus books every benchmark reads, sorted so that runs compare like with like.
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

inline std::vector<std::filesystem::path> corpus_paths() {
    std::vector<std::filesystem::path> paths;
    std::error_code error;  // an absent corpus gives no books; each benchmark says it skips
    for (const auto& entry : std::filesystem::directory_iterator(QUIRELO_CORPUS_DIR, error)) {
        if (entry.path().extension() == ".epub") paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}
