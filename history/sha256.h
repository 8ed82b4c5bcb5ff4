// SHA-256, from the platform's own cryptography (OpenSSL's libcrypto, or CNG on Windows).
#pragma once

#include <cstddef>
#include <string>

namespace quorvane {

// The digest of `size` bytes as 64 lower-case hex digits; empty if it could not be computed.
std::string sha256Hex(const void* data, std::size_t size);

} // namespace quorvane
