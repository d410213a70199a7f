// The field cipher: the order table, padding, the error numbers, and that
// deciphering undoes enciphering.  Portable: runs in both builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "platform/vb/VbError.h"
#include "sysaccess/modEnDeCryption.h"

using modEnDeCryption::Decrypt;
using modEnDeCryption::Encrypt;

namespace {

const std::wstring kKey = L"46120573";

long ErrorOf(const std::function<void()>& f) {
    try {
        f();
        return 0;
    } catch (const vb::Error& e) {
        return e.Number();
    }
}

}  // namespace

TEST(FieldCipher, KnownBlocksUnderTheProgramsKey) {
    // Key digits 4 6 1 2 0 5 7 3 give the order 5 7 2 3 1 6 8 4.
    EXPECT_EQ(Encrypt(L"explorer.exe", kKey), L"oexperrl  ex.  e");
    EXPECT_EQ(Decrypt(L"oexperrl  ex.  e", kKey), L"explorer.exe    ");
    // One character lands where the order value is 1 (the fifth position).
    EXPECT_EQ(Encrypt(L"A", kKey), L"    A   ");
    EXPECT_EQ(Decrypt(Encrypt(L"A", kKey), kKey), L"A       ");
}

TEST(FieldCipher, PaddingAndKeysOfEveryShape) {
    EXPECT_EQ(Encrypt(L"abcdefgh", kKey).size(), 8u);   // a whole block: no padding
    EXPECT_EQ(Encrypt(L"abcdefghi", kKey).size(), 16u);
    EXPECT_EQ(Encrypt(L"abcdefgh", L"12345678"), L"abcdefgh");  // ascending key: unchanged
    EXPECT_EQ(Encrypt(L"abc", L"1234"), L"abc ");
    EXPECT_EQ(Encrypt(L"abcd", L"1121"), L"abdc");  // equal digits keep their order
    EXPECT_EQ(Decrypt(L"abdc", L"1121"), L"abcd");
    EXPECT_EQ(Encrypt(L"abcd", L"9"), L"abcd");
    EXPECT_EQ(Encrypt(L"", kKey), L"");
    EXPECT_EQ(Decrypt(L"", kKey), L"");
}

TEST(FieldCipher, ErrorsCarryTheRuntimesNumbers) {
    EXPECT_EQ(ErrorOf([] { Decrypt(L"123456789", kKey); }), 9);
    EXPECT_EQ(ErrorOf([] { Encrypt(L"abc", L"4612a573"); }), 13);
    EXPECT_EQ(ErrorOf([] { Decrypt(L"abcdefgh", L"4612 573"); }), 13);
    EXPECT_EQ(ErrorOf([] { Encrypt(L"abc", L""); }), 11);
    EXPECT_EQ(ErrorOf([] { Encrypt(L"", L""); }), 11);
    EXPECT_EQ(ErrorOf([] { Decrypt(L"abc", L""); }), 11);
    EXPECT_EQ(ErrorOf([] { Encrypt(L"", L"x"); }), 13);  // the key is read before the text
}

TEST(FieldCipher, DecipherUndoesEncipherAndNoCharacterChanges) {
    std::mt19937 random(20080509);
    for (int round = 0; round < 300; ++round) {
        std::wstring key;
        for (std::size_t i = 0, n = 1 + random() % 12; i < n; ++i) key.push_back(wchar_t(L'0' + random() % 10));
        std::wstring text;
        for (std::size_t i = 0, n = random() % 40; i < n; ++i)
            text.push_back(random() % 3 ? wchar_t(0x4E00 + random() % 0x5000) : wchar_t(0x20 + random() % 0x5F));
        std::wstring enciphered = Encrypt(text, key);
        ASSERT_EQ(enciphered.size() % key.size(), 0u);
        ASSERT_LT(enciphered.size(), text.size() + key.size());
        std::wstring padded = text + std::wstring(enciphered.size() - text.size(), L' ');
        EXPECT_EQ(Decrypt(enciphered, key), padded);
        std::wstring a = enciphered, b = padded;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
    }
}
