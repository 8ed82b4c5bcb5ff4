// A directory of its own for each test, removed afterwards; image bytes to put in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace quorvane::test {

struct TempDir {
    TempDir() { std::filesystem::create_directories(path_); }
    TempDir(const TempDir&) = delete;
    ~TempDir() { std::filesystem::remove_all(path_, ec_); }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                  ("quorvane-test-" + std::to_string(std::random_device()()) +
                                   std::to_string(std::random_device()()));
    std::error_code ec_;
};

// Deterministic bytes (xorshift): every record differs.
inline std::vector<std::uint8_t> imageBytes(std::size_t size, unsigned seed = 1) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = 2463534242U ^ seed;
    for (auto& b : bytes)
        x ^= x << 13, x ^= x >> 17, x ^= x << 5, b = static_cast<std::uint8_t>(x);
    return bytes;
}

inline void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

} // namespace quorvane::test
