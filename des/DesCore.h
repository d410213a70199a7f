#pragma once
// The DES block function (FIPS 46) and CBC over whole blocks.  Blocks are
// handled as 64-bit values whose most significant byte is the first byte in
// memory, the bit order the standard numbers from 1.
#include <array>
#include <cstddef>
#include <cstdint>

namespace des {

// Round keys in the form the round function consumes: for each round, the
// even-numbered and odd-numbered 6-bit groups packed one per byte.
struct KeySchedule {
    std::array<std::uint32_t, 32> words{};
};

// Key bytes in standard order (parity bits are ignored, as PC-1 drops them).
KeySchedule MakeKeySchedule(const std::array<std::uint8_t, 8>& key);

std::uint64_t EncryptBlock(const KeySchedule& ks, std::uint64_t block);
std::uint64_t DecryptBlock(const KeySchedule& ks, std::uint64_t block);

// CBC in place over `length` bytes (a multiple of 8).  The return value is the
// last cipher block, so a long run can be split into several calls.
std::uint64_t CbcEncrypt(const KeySchedule& ks, std::uint64_t iv, std::uint8_t* data, std::size_t length);
std::uint64_t CbcDecrypt(const KeySchedule& ks, std::uint64_t iv, std::uint8_t* data, std::size_t length);

inline std::uint64_t LoadBlock(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

inline void StoreBlock(std::uint8_t* p, std::uint64_t v) {
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(v);
        v >>= 8;
    }
}

}  // namespace des
