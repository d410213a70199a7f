#include "des/DesCore.h"

#include "des/DesTables.h"

namespace des {
namespace {

using u32 = std::uint32_t;

constexpr u32 Rotl(u32 v, int n) { return (v << n) | (v >> (32 - n)); }
constexpr u32 Rotr(u32 v, int n) { return (v >> n) | (v << (32 - n)); }

// The S-boxes with P folded in: sp[box][six input bits] is P applied to the
// box's four output bits in their place.  One lookup per box and round
// instead of the bit-by-bit substitution and permutation.
struct SpTables {
    std::array<std::array<u32, 64>, 8> sp{};
};

constexpr SpTables MakeSpTables() {
    SpTables t{};
    for (int box = 0; box < 8; ++box) {
        for (int x = 0; x < 64; ++x) {
            const int row = ((x >> 4) & 2) | (x & 1);
            const int col = (x >> 1) & 15;
            const u32 in = static_cast<u32>(tables::kSBox[box][row * 16 + col]) << (28 - 4 * box);
            u32 out = 0;
            for (int i = 0; i < 32; ++i)
                if ((in >> (32 - tables::kP[i])) & 1u) out |= 1u << (31 - i);
            t.sp[box][x] = out;
        }
    }
    return t;
}

constexpr SpTables kSp = MakeSpTables();

// f(R, K): E selects group j as bits 4j..4j+5 of R (bit 0 being bit 32).
// Rotating R right by 3 puts groups 0, 2, 4, 6 in the low six bits of the
// four bytes; rotating left by 1 does the same for 1, 3, 5, 7.  The round
// keys are packed to match (MakeKeySchedule).
inline u32 F(u32 r, u32 evenKey, u32 oddKey) {
    const auto& sp = kSp.sp;
    const u32 u = Rotr(r, 3) ^ evenKey;
    const u32 v = Rotl(r, 1) ^ oddKey;
    return sp[0][(u >> 24) & 63] ^ sp[2][(u >> 16) & 63] ^ sp[4][(u >> 8) & 63] ^ sp[6][u & 63] ^
           sp[1][(v >> 24) & 63] ^ sp[3][(v >> 16) & 63] ^ sp[5][(v >> 8) & 63] ^ sp[7][v & 63];
}

// IP as five exchanges of bit groups between the two halves; IP^-1 runs
// the same exchanges backwards.
inline void InitialPermutation(u32& l, u32& r) {
    u32 t;
    t = ((l >> 4) ^ r) & 0x0f0f0f0fu; r ^= t; l ^= t << 4;
    t = ((l >> 16) ^ r) & 0x0000ffffu; r ^= t; l ^= t << 16;
    t = ((r >> 2) ^ l) & 0x33333333u; l ^= t; r ^= t << 2;
    t = ((r >> 8) ^ l) & 0x00ff00ffu; l ^= t; r ^= t << 8;
    t = ((l >> 1) ^ r) & 0x55555555u; r ^= t; l ^= t << 1;
}

inline void FinalPermutation(u32& l, u32& r) {
    u32 t;
    t = ((l >> 1) ^ r) & 0x55555555u; r ^= t; l ^= t << 1;
    t = ((r >> 8) ^ l) & 0x00ff00ffu; l ^= t; r ^= t << 8;
    t = ((r >> 2) ^ l) & 0x33333333u; l ^= t; r ^= t << 2;
    t = ((l >> 16) ^ r) & 0x0000ffffu; r ^= t; l ^= t << 16;
    t = ((l >> 4) ^ r) & 0x0f0f0f0fu; r ^= t; l ^= t << 4;
}

// One block on its two halves: IP, 16 rounds, the swap and IP^-1.
template <bool Decrypt>
inline void Crypt(const KeySchedule& ks, u32& left, u32& right) {
    u32 l = left, r = right;
    InitialPermutation(l, r);
    const u32* k = ks.words.data();
    for (int round = 0; round < 16; round += 2) {
        if constexpr (Decrypt) {
            l ^= F(r, k[2 * (15 - round)], k[2 * (15 - round) + 1]);
            r ^= F(l, k[2 * (14 - round)], k[2 * (14 - round) + 1]);
        } else {
            l ^= F(r, k[2 * round], k[2 * round + 1]);
            r ^= F(l, k[2 * round + 2], k[2 * round + 3]);
        }
    }
    FinalPermutation(r, l);
    left = r;
    right = l;
}

inline u32 Load32(const std::uint8_t* p) {
    return (u32{p[0]} << 24) | (u32{p[1]} << 16) | (u32{p[2]} << 8) | u32{p[3]};
}

inline void Store32(std::uint8_t* p, u32 v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

inline std::uint64_t Join(u32 l, u32 r) { return (std::uint64_t{l} << 32) | r; }

}  // namespace

KeySchedule MakeKeySchedule(const std::array<std::uint8_t, 8>& key) {
    const std::uint64_t k = LoadBlock(key.data());
    auto bit = [](std::uint64_t v, int width, int n) { return (v >> (width - n)) & 1u; };
    u32 c = 0, d = 0;
    for (int i = 0; i < 28; ++i) c = (c << 1) | static_cast<u32>(bit(k, 64, tables::kPC1[i]));
    for (int i = 28; i < 56; ++i) d = (d << 1) | static_cast<u32>(bit(k, 64, tables::kPC1[i]));

    KeySchedule ks;
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < tables::kShifts[round]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0fffffffu;
            d = ((d << 1) | (d >> 27)) & 0x0fffffffu;
        }
        const std::uint64_t cd = (std::uint64_t{c} << 28) | d;
        std::uint64_t sub = 0;
        for (int i = 0; i < 48; ++i) sub = (sub << 1) | bit(cd, 56, tables::kPC2[i]);
        u32 group[8];
        for (int j = 0; j < 8; ++j) group[j] = static_cast<u32>(sub >> (42 - 6 * j)) & 63u;
        ks.words[2 * round] = (group[0] << 24) | (group[2] << 16) | (group[4] << 8) | group[6];
        ks.words[2 * round + 1] = (group[1] << 24) | (group[3] << 16) | (group[5] << 8) | group[7];
    }
    return ks;
}

std::uint64_t EncryptBlock(const KeySchedule& ks, std::uint64_t block) {
    u32 l = static_cast<u32>(block >> 32), r = static_cast<u32>(block);
    Crypt<false>(ks, l, r);
    return Join(l, r);
}

std::uint64_t DecryptBlock(const KeySchedule& ks, std::uint64_t block) {
    u32 l = static_cast<u32>(block >> 32), r = static_cast<u32>(block);
    Crypt<true>(ks, l, r);
    return Join(l, r);
}

std::uint64_t CbcEncrypt(const KeySchedule& ks, std::uint64_t iv, std::uint8_t* data, std::size_t length) {
    u32 pl = static_cast<u32>(iv >> 32), pr = static_cast<u32>(iv);
    for (std::size_t off = 0; off + 8 <= length; off += 8) {
        std::uint8_t* p = data + off;
        pl ^= Load32(p);
        pr ^= Load32(p + 4);
        Crypt<false>(ks, pl, pr);
        Store32(p, pl);
        Store32(p + 4, pr);
    }
    return Join(pl, pr);
}

std::uint64_t CbcDecrypt(const KeySchedule& ks, std::uint64_t iv, std::uint8_t* data, std::size_t length) {
    u32 pl = static_cast<u32>(iv >> 32), pr = static_cast<u32>(iv);
    for (std::size_t off = 0; off + 8 <= length; off += 8) {
        std::uint8_t* p = data + off;
        const u32 cl = Load32(p), cr = Load32(p + 4);
        u32 l = cl, r = cr;
        Crypt<true>(ks, l, r);
        Store32(p, l ^ pl);
        Store32(p + 4, r ^ pr);
        pl = cl;
        pr = cr;
    }
    return Join(pl, pr);
}

}  // namespace des
