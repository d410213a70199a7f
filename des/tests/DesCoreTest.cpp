// The block function and CBC against published known answers (FIPS 81,
// SP 800-17) and against a literal bit-per-byte rendering of FIPS 46.
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "des/DesCore.h"
#include "des/DesTables.h"
#include "des/tests/DesReference.h"

namespace {

std::array<std::uint8_t, 8> KeyBytes(std::uint64_t k) {
    std::array<std::uint8_t, 8> key{};
    des::StoreBlock(key.data(), k);
    return key;
}

struct Pair {
    std::uint64_t in;
    std::uint64_t out;
};

// SP 800-17, variable plaintext: key 0101010101010101, one plaintext bit set.
const Pair kVariablePlaintext[] = {
    {0x8000000000000000ull, 0x95F8A5E5DD31D900ull}, {0x4000000000000000ull, 0xDD7F121CA5015619ull},
    {0x2000000000000000ull, 0x2E8653104F3834EAull}, {0x1000000000000000ull, 0x4BD388FF6CD81D4Full},
    {0x0800000000000000ull, 0x20B9E767B2FB1456ull}, {0x0400000000000000ull, 0x55579380D77138EFull},
    {0x0200000000000000ull, 0x6CC5DEFAAF04512Full}, {0x0100000000000000ull, 0x0D9F279BA5D87260ull},
    {0x0080000000000000ull, 0xD9031B0271BD5A0Aull}, {0x0040000000000000ull, 0x424250B37C3DD951ull},
    {0x0020000000000000ull, 0xB8061B7ECD9A21E5ull}, {0x0010000000000000ull, 0xF15D0F286B65BD28ull},
    {0x0008000000000000ull, 0xADD0CC8D6E5DEBA1ull}, {0x0004000000000000ull, 0xE6D5F82752AD63D1ull},
    {0x0002000000000000ull, 0xECBFE3BD3F591A5Eull}, {0x0001000000000000ull, 0xF356834379D165CDull},
    {0x0000800000000000ull, 0x2B9F982F20037FA9ull}, {0x0000400000000000ull, 0x889DE068A16F0BE6ull},
    {0x0000200000000000ull, 0xE19E275D846A1298ull}, {0x0000100000000000ull, 0x329A8ED523D71AECull},
    {0x0000080000000000ull, 0xE7FCE22557D23C97ull}, {0x0000040000000000ull, 0x12A9F5817FF2D65Dull},
    {0x0000020000000000ull, 0xA484C3AD38DC9C19ull}, {0x0000010000000000ull, 0xFBE00A8A1EF8AD72ull},
    {0x0000008000000000ull, 0x750D079407521363ull}, {0x0000004000000000ull, 0x64FEED9C724C2FAFull},
    {0x0000002000000000ull, 0xF02B263B328E2B60ull}, {0x0000001000000000ull, 0x9D64555A9A10B852ull},
    {0x0000000800000000ull, 0xD106FF0BED5255D7ull}, {0x0000000400000000ull, 0xE1652C6B138C64A5ull},
    {0x0000000200000000ull, 0xE428581186EC8F46ull}, {0x0000000100000000ull, 0xAEB5F5EDE22D1A36ull},
    {0x0000000080000000ull, 0xE943D7568AEC0C5Cull}, {0x0000000040000000ull, 0xDF98C8276F54B04Bull},
    {0x0000000020000000ull, 0xB160E4680F6C696Full}, {0x0000000010000000ull, 0xFA0752B07D9C4AB8ull},
    {0x0000000008000000ull, 0xCA3A2B036DBC8502ull}, {0x0000000004000000ull, 0x5E0905517BB59BCFull},
    {0x0000000002000000ull, 0x814EEB3B91D90726ull}, {0x0000000001000000ull, 0x4D49DB1532919C9Full},
    {0x0000000000800000ull, 0x25EB5FC3F8CF0621ull}, {0x0000000000400000ull, 0xAB6A20C0620D1C6Full},
    {0x0000000000200000ull, 0x79E90DBC98F92CCAull}, {0x0000000000100000ull, 0x866ECEDD8072BB0Eull},
    {0x0000000000080000ull, 0x8B54536F2F3E64A8ull}, {0x0000000000040000ull, 0xEA51D3975595B86Bull},
    {0x0000000000020000ull, 0xCAFFC6AC4542DE31ull}, {0x0000000000010000ull, 0x8DD45A2DDF90796Cull},
    {0x0000000000008000ull, 0x1029D55E880EC2D0ull}, {0x0000000000004000ull, 0x5D86CB23639DBEA9ull},
    {0x0000000000002000ull, 0x1D1CA853AE7C0C5Full}, {0x0000000000001000ull, 0xCE332329248F3228ull},
    {0x0000000000000800ull, 0x8405D1ABE24FB942ull}, {0x0000000000000400ull, 0xE643D78090CA4207ull},
    {0x0000000000000200ull, 0x48221B9937748A23ull}, {0x0000000000000100ull, 0xDD7C0BBD61FAFD54ull},
    {0x0000000000000080ull, 0x2FBC291A570DB5C4ull}, {0x0000000000000040ull, 0xE07C30D7E4E26E12ull},
    {0x0000000000000020ull, 0x0953E2258E8E90A1ull}, {0x0000000000000010ull, 0x5B711BC4CEEBF2EEull},
    {0x0000000000000008ull, 0xCC083F1E6D9E85F6ull}, {0x0000000000000004ull, 0xD2FD8867D50D2DFEull},
    {0x0000000000000002ull, 0x06E7EA22CE92708Full}, {0x0000000000000001ull, 0x166B40B44ABA4BD6ull},
};

// SP 800-17, variable key: plaintext 0, one key bit set (parity bits odd).
const Pair kVariableKey[] = {
    {0x8001010101010101ull, 0x95A8D72813DAA94Dull}, {0x4001010101010101ull, 0x0EEC1487DD8C26D5ull},
    {0x2001010101010101ull, 0x7AD16FFB79C45926ull}, {0x1001010101010101ull, 0xD3746294CA6A6CF3ull},
    {0x0801010101010101ull, 0x809F5F873C1FD761ull}, {0x0401010101010101ull, 0xC02FAFFEC989D1FCull},
    {0x0201010101010101ull, 0x4615AA1D33E72F10ull}, {0x0180010101010101ull, 0x2055123350C00858ull},
    {0x0140010101010101ull, 0xDF3B99D6577397C8ull}, {0x0120010101010101ull, 0x31FE17369B5288C9ull},
    {0x0110010101010101ull, 0xDFDD3CC64DAE1642ull}, {0x0108010101010101ull, 0x178C83CE2B399D94ull},
    {0x0104010101010101ull, 0x50F636324A9B7F80ull}, {0x0102010101010101ull, 0xA8468EE3BC18F06Dull},
    {0x0101800101010101ull, 0xA2DC9E92FD3CDE92ull}, {0x0101400101010101ull, 0xCAC09F797D031287ull},
    {0x0101200101010101ull, 0x90BA680B22AEB525ull}, {0x0101100101010101ull, 0xCE7A24F350E280B6ull},
    {0x0101080101010101ull, 0x882BFF0AA01A0B87ull}, {0x0101040101010101ull, 0x25610288924511C2ull},
    {0x0101020101010101ull, 0xC71516C29C75D170ull}, {0x0101018001010101ull, 0x5199C29A52C9F059ull},
    {0x0101014001010101ull, 0xC22F0A294A71F29Full}, {0x0101012001010101ull, 0xEE371483714C02EAull},
    {0x0101011001010101ull, 0xA81FBD448F9E522Full}, {0x0101010801010101ull, 0x4F644C92E192DFEDull},
    {0x0101010401010101ull, 0x1AFA9A66A6DF92AEull}, {0x0101010201010101ull, 0xB3C1CC715CB879D8ull},
    {0x0101010180010101ull, 0x19D032E64AB0BD8Bull}, {0x0101010140010101ull, 0x3CFAA7A7DC8720DCull},
    {0x0101010120010101ull, 0xB7265F7F447AC6F3ull}, {0x0101010110010101ull, 0x9DB73B3C0D163F54ull},
    {0x0101010108010101ull, 0x8181B65BABF4A975ull}, {0x0101010104010101ull, 0x93C9B64042EAA240ull},
    {0x0101010102010101ull, 0x5570530829705592ull}, {0x0101010101800101ull, 0x8638809E878787A0ull},
    {0x0101010101400101ull, 0x41B9A79AF79AC208ull}, {0x0101010101200101ull, 0x7A9BE42F2009A892ull},
    {0x0101010101100101ull, 0x29038D56BA6D2745ull}, {0x0101010101080101ull, 0x5495C6ABF1E5DF51ull},
    {0x0101010101040101ull, 0xAE13DBD561488933ull}, {0x0101010101020101ull, 0x024D1FFA8904E389ull},
    {0x0101010101018001ull, 0xD1399712F99BF02Eull}, {0x0101010101014001ull, 0x14C1D7C1CFFEC79Eull},
    {0x0101010101012001ull, 0x1DE5279DAE3BED6Full}, {0x0101010101011001ull, 0xE941A33F85501303ull},
    {0x0101010101010801ull, 0xDA99DBBC9A03F379ull}, {0x0101010101010401ull, 0xB7FC92F91D8E92E9ull},
    {0x0101010101010201ull, 0xAE8E5CAA3CA04E85ull}, {0x0101010101010180ull, 0x9CC62DF43B6EED74ull},
    {0x0101010101010140ull, 0xD863DBB5C59A91A0ull}, {0x0101010101010120ull, 0xA1AB2190545B91D7ull},
    {0x0101010101010110ull, 0x0875041E64C570F7ull}, {0x0101010101010108ull, 0x5A594528BEBEF1CCull},
    {0x0101010101010104ull, 0xFCDB3291DE21F0C0ull}, {0x0101010101010102ull, 0x869EFD7F9F265A09ull},
};

TEST(DesBlock, PublishedSingleVectors) {
    // FIPS 81 ECB example: "Now is the time for all " under 0123456789ABCDEF.
    const auto fips = des::MakeKeySchedule(KeyBytes(0x0123456789ABCDEFull));
    EXPECT_EQ(des::EncryptBlock(fips, 0x4E6F772069732074ull), 0x3FA40E8A984D4815ull);
    EXPECT_EQ(des::EncryptBlock(fips, 0x68652074696D6520ull), 0x6A271787AB8883F9ull);
    EXPECT_EQ(des::EncryptBlock(fips, 0x666F7220616C6C20ull), 0x893D51EC4B563B53ull);
    EXPECT_EQ(des::DecryptBlock(fips, 0x3FA40E8A984D4815ull), 0x4E6F772069732074ull);

    const auto classic = des::MakeKeySchedule(KeyBytes(0x133457799BBCDFF1ull));
    EXPECT_EQ(des::EncryptBlock(classic, 0x0123456789ABCDEFull), 0x85E813540F0AB405ull);
    EXPECT_EQ(des::DecryptBlock(classic, 0x85E813540F0AB405ull), 0x0123456789ABCDEFull);
}

TEST(DesBlock, VariablePlaintextKnownAnswers) {
    const auto ks = des::MakeKeySchedule(KeyBytes(0x0101010101010101ull));
    for (const auto& v : kVariablePlaintext) {
        EXPECT_EQ(des::EncryptBlock(ks, v.in), v.out) << std::hex << v.in;
        EXPECT_EQ(des::DecryptBlock(ks, v.out), v.in) << std::hex << v.in;
    }
}

TEST(DesBlock, VariableKeyKnownAnswers) {
    for (const auto& v : kVariableKey) {
        const auto ks = des::MakeKeySchedule(KeyBytes(v.in));
        EXPECT_EQ(des::EncryptBlock(ks, 0), v.out) << std::hex << v.in;
        EXPECT_EQ(des::DecryptBlock(ks, v.out), 0u) << std::hex << v.in;
    }
}

TEST(DesBlock, MatchesTheStandardBitByBit) {
    std::mt19937_64 rng(20080509);
    for (int i = 0; i < 300; ++i) {
        const auto key = KeyBytes(rng());
        const std::uint64_t block = rng();
        const auto ks = des::MakeKeySchedule(key);
        const std::uint64_t cipher = des::EncryptBlock(ks, block);
        ASSERT_EQ(cipher, des_reference::Encrypt(key, block));
        ASSERT_EQ(des::DecryptBlock(ks, cipher), block);
        ASSERT_EQ(des_reference::Decrypt(key, cipher), block);
    }
}

TEST(DesBlock, ParityBitsDoNotMatter) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 50; ++i) {
        const std::uint64_t k = rng();
        const auto a = des::MakeKeySchedule(KeyBytes(k));
        const auto b = des::MakeKeySchedule(KeyBytes(k ^ (rng() & 0x0101010101010101ull)));
        EXPECT_EQ(a.words, b.words);
    }
    // The all-zero key's round keys are zero: an instance without a key uses it.
    EXPECT_EQ(des::MakeKeySchedule({}).words, des::KeySchedule{}.words);
}

TEST(DesBlock, TablesAreConsistent) {
    // IP^-1 undoes IP; PC-1 never picks a parity bit.
    for (int i = 0; i < 64; ++i) EXPECT_EQ(des::tables::kIPInverse[des::tables::kIP[i] - 1], i + 1);
    for (auto bit : des::tables::kPC1) EXPECT_NE(bit % 8, 0);
    int shifts = 0;
    for (auto s : des::tables::kShifts) shifts += s;
    EXPECT_EQ(shifts, 28);
}

TEST(DesCbc, Fips81Example) {
    const auto ks = des::MakeKeySchedule(KeyBytes(0x0123456789ABCDEFull));
    const std::string plain = "Now is the time for all ";
    std::vector<std::uint8_t> data(plain.begin(), plain.end());
    const std::uint64_t last = des::CbcEncrypt(ks, 0x1234567890ABCDEFull, data.data(), data.size());
    EXPECT_EQ(des::LoadBlock(&data[0]), 0xE5C7CDDE872BF27Cull);
    EXPECT_EQ(des::LoadBlock(&data[8]), 0x43E934008C389C0Full);
    EXPECT_EQ(des::LoadBlock(&data[16]), 0x683788499A7C05F6ull);
    EXPECT_EQ(last, 0x683788499A7C05F6ull);

    des::CbcDecrypt(ks, 0x1234567890ABCDEFull, data.data(), data.size());
    EXPECT_EQ(std::string(data.begin(), data.end()), plain);
}

TEST(DesCbc, SplitRunsChainLikeOne) {
    const auto ks = des::MakeKeySchedule(KeyBytes(0x0E329232EA6D0D73ull));
    std::vector<std::uint8_t> whole(256), split;
    for (std::size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<std::uint8_t>(i * 7);
    split = whole;
    des::CbcEncrypt(ks, 0, whole.data(), whole.size());
    std::uint64_t chain = des::CbcEncrypt(ks, 0, split.data(), 40);
    des::CbcEncrypt(ks, chain, split.data() + 40, split.size() - 40);
    EXPECT_EQ(whole, split);

    chain = des::CbcDecrypt(ks, 0, split.data(), 8);
    des::CbcDecrypt(ks, chain, split.data() + 8, split.size() - 8);
    for (std::size_t i = 0; i < split.size(); ++i) ASSERT_EQ(split[i], static_cast<std::uint8_t>(i * 7));
}

}  // namespace
