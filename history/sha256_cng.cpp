#include "sha256.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include <windows.h>

#include <bcrypt.h>

namespace quorvane {

std::string sha256Hex(const void* data, std::size_t size) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return {};
    std::array<UCHAR, 32> digest{};
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    // BCryptHashData takes at most 4 GiB at once; images are far smaller, but feed it in parts.
    const auto* bytes = static_cast<const UCHAR*>(data);
    for (std::size_t done = 0; ok && done < size;) {
        const ULONG part = static_cast<ULONG>(std::min<std::size_t>(size - done, 1u << 30));
        ok = BCRYPT_SUCCESS(::BCryptHashData(hash, const_cast<UCHAR*>(bytes + done), part, 0));
        done += part;
    }
    ok = ok && BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest.data(), digest.size(), 0));
    if (hash != nullptr)
        ::BCryptDestroyHash(hash);
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok)
        return {};
    std::string hex;
    for (UCHAR byte : digest) {
        std::array<char, 3> pair{};
        std::snprintf(pair.data(), pair.size(), "%02x", byte);
        hex += pair.data();
    }
    return hex;
}

} // namespace quorvane
