#include "des/tests/DesReference.h"

#include <vector>

#include "des/DesTables.h"

namespace des_reference {
namespace {

using Bits = std::vector<std::uint8_t>;

Bits ToBits(std::uint64_t v) {
    Bits bits(64);
    for (int i = 0; i < 64; ++i) bits[i] = static_cast<std::uint8_t>((v >> (63 - i)) & 1);
    return bits;
}

std::uint64_t FromBits(const Bits& bits) {
    std::uint64_t v = 0;
    for (auto b : bits) v = (v << 1) | b;
    return v;
}

template <std::size_t N>
Bits Select(const Bits& in, const std::array<std::uint8_t, N>& table) {
    Bits out(N);
    for (std::size_t i = 0; i < N; ++i) out[i] = in[table[i] - 1];
    return out;
}

Bits RotateLeft(const Bits& half, int n) {
    Bits out(half.size());
    for (std::size_t i = 0; i < half.size(); ++i) out[i] = half[(i + n) % half.size()];
    return out;
}

std::array<Bits, 16> RoundKeys(const std::array<std::uint8_t, 8>& key) {
    std::uint64_t k = 0;
    for (auto b : key) k = (k << 8) | b;
    const Bits cd = Select(ToBits(k), des::tables::kPC1);
    Bits c(cd.begin(), cd.begin() + 28), d(cd.begin() + 28, cd.end());
    std::array<Bits, 16> keys;
    for (int round = 0; round < 16; ++round) {
        c = RotateLeft(c, des::tables::kShifts[round]);
        d = RotateLeft(d, des::tables::kShifts[round]);
        Bits joined = c;
        joined.insert(joined.end(), d.begin(), d.end());
        keys[round] = Select(joined, des::tables::kPC2);
    }
    return keys;
}

Bits F(const Bits& r, const Bits& key) {
    Bits x = Select(r, des::tables::kE);
    for (int i = 0; i < 48; ++i) x[i] ^= key[i];
    Bits s(32);
    for (int box = 0; box < 8; ++box) {
        const std::uint8_t* b = &x[6 * box];
        const int row = b[0] * 2 + b[5];
        const int col = b[1] * 8 + b[2] * 4 + b[3] * 2 + b[4];
        const int value = des::tables::kSBox[box][row * 16 + col];
        for (int i = 0; i < 4; ++i) s[4 * box + i] = static_cast<std::uint8_t>((value >> (3 - i)) & 1);
    }
    return Select(s, des::tables::kP);
}

std::uint64_t Run(const std::array<std::uint8_t, 8>& key, std::uint64_t block, bool decrypt) {
    const auto keys = RoundKeys(key);
    const Bits ip = Select(ToBits(block), des::tables::kIP);
    Bits l(ip.begin(), ip.begin() + 32), r(ip.begin() + 32, ip.end());
    for (int round = 0; round < 16; ++round) {
        const Bits f = F(r, keys[decrypt ? 15 - round : round]);
        Bits next(32);
        for (int i = 0; i < 32; ++i) next[i] = l[i] ^ f[i];
        l = r;
        r = next;
    }
    Bits pre = r;
    pre.insert(pre.end(), l.begin(), l.end());
    return FromBits(Select(pre, des::tables::kIPInverse));
}

}  // namespace

std::uint64_t Encrypt(const std::array<std::uint8_t, 8>& key, std::uint64_t block) { return Run(key, block, false); }
std::uint64_t Decrypt(const std::array<std::uint8_t, 8>& key, std::uint64_t block) { return Run(key, block, true); }

}  // namespace des_reference
