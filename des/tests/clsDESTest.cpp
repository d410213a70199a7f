// clsDES as its callers see it: the header layout, keys, progress, errors,
// strings and real files in a temporary folder.
#ifdef _WIN32
#include <windows.h>  // its EncryptFile/DecryptFile macros must leave the members alone
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "des/AnsiText.h"
#include "des/DesCore.h"
#include "des/tests/TestSupport.h"
#include "platform/vb/VbError.h"

namespace fs = std::filesystem;
using namespace des_test;
using ::testing::ElementsAre;

namespace {

// CBC with a zero IV straight through the core: what the class's cipher text
// must decipher to, header included.
Bytes RawDecipher(Bytes cipher, const std::array<std::uint8_t, 8>& key) {
    des::CbcDecrypt(des::MakeKeySchedule(key), 0, cipher.data(), cipher.size());
    return cipher;
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

template <class F>
vb::Error Caught(F&& f) {
    try {
        f();
    } catch (const vb::Error& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return vb::Error(0, L"", L"");
}

const std::array<std::uint8_t, 8> kAsciiKey = {'K', 'e', 'y', '1', '2', '3', '4', '5'};

}  // namespace

TEST(clsDESBytes, CipherLengthsAndHeaderLayout) {
    const std::pair<std::size_t, std::size_t> sizes[] = {{0, 16}, {1, 16}, {4, 16}, {5, 24}, {12, 24}, {20, 32}};
    for (auto [plain, cipher] : sizes) {
        clsDES des(Words(0x01020304, 2147483647));
        const Bytes data = Random(plain, static_cast<unsigned>(plain));
        Bytes bytes = data;
        des.EncryptByte(bytes, L"Key12345");
        ASSERT_EQ(bytes.size(), cipher) << plain;

        const Bytes raw = RawDecipher(bytes, kAsciiKey);
        EXPECT_EQ(Le32(raw, 0), 0x01020304u);
        EXPECT_EQ(Le32(raw, 4), 2147483647u);
        EXPECT_EQ(Le32(raw, 8), plain);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), raw.begin() + 12));
        for (std::size_t i = 12 + plain; i < raw.size(); ++i) EXPECT_EQ(raw[i], 0) << "padding at " << i;
    }
}

TEST(clsDESBytes, RoundTripsFromNothingToAMegabyte) {
    clsDES des;
    for (std::size_t n : {0u, 1u, 3u, 4u, 5u, 7u, 8u, 11u, 12u, 13u, 100u, 4095u, 65536u, 1048576u}) {
        const Bytes data = Random(n, static_cast<unsigned>(n) + 1);
        Bytes bytes = data;
        des.EncryptByte(bytes, L"round trip");
        des.DecryptByte(bytes);
        ASSERT_EQ(bytes, data) << n;
    }
}

TEST(clsDESBytes, SameDataGivesFreshCipherTextsThatAllDecipher) {
    // Back-to-back calls and back-to-back instances, all within one timer tick.
    const Bytes data = Random(20, 3);
    std::set<std::string> ciphers;
    std::set<std::uint32_t> words;
    for (int i = 0; i < 50; ++i) {
        clsDES des;
        for (int j = 0; j < 2; ++j) {
            Bytes bytes = data;
            des.EncryptByte(bytes, L"Key12345");
            ciphers.insert(std::string(bytes.begin(), bytes.end()));
            const Bytes raw = RawDecipher(bytes, kAsciiKey);
            for (std::size_t at : {0u, 4u}) {
                EXPECT_LE(Le32(raw, at), 2147483647u);
                words.insert(Le32(raw, at));
            }
            des.DecryptByte(bytes);
            EXPECT_EQ(bytes, data);
        }
    }
    EXPECT_EQ(ciphers.size(), 100u);
    EXPECT_GT(words.size(), 190u);
}

TEST(clsDESKey, TextToKeyBytes) {
    const Bytes data = Random(40, 9);
    auto encipher = [&](const std::wstring& key) {
        clsDES des(Words(5, 6));
        Bytes bytes = data;
        des.EncryptByte(bytes, key);
        return bytes;
    };
    // Beyond 8 characters nothing counts; short keys are padded with zero bytes.
    EXPECT_EQ(encipher(L"abcdefgh"), encipher(L"abcdefghXYZ"));
    EXPECT_EQ(encipher(L"abc"), encipher(std::wstring(L"abc\0\0\0\0\0", 8)));
    EXPECT_NE(encipher(L"abc"), encipher(L"abd"));
    // Case matters; parity bits (the low bit of each byte) do not.
    EXPECT_NE(encipher(L"abcdefgh"), encipher(L"ABCDEFGH"));
    EXPECT_EQ(encipher(L"abcdefgh"), encipher(L"`cbedgfi"));

    // Code page 936: "密钥" is 4 bytes, of which as many as it has characters count.
    const Bytes chinese = encipher(L"密钥");
    const Bytes raw = RawDecipher(chinese, {0xC3, 0xDC, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Le32(raw, 8), 40u);
    EXPECT_EQ(Le32(raw, 0), 5u);
}

TEST(clsDESKey, PropertyAndArgumentsStayInForce) {
    const Bytes data = Random(30, 11);
    clsDES keyed(Words(1, 2));
    keyed.Key(L"first");
    Bytes a = data;
    keyed.EncryptByte(a);  // the property's key
    keyed.DecryptByte(a, L"");  // an empty argument keeps it
    EXPECT_EQ(a, data);

    keyed.EncryptByte(a, L"second");  // an argument replaces it for later calls
    Bytes b = a;
    keyed.DecryptByte(b);
    EXPECT_EQ(b, data);
    b = a;
    clsDES other;
    other.Key(L"first");
    EXPECT_THAT(Caught([&] { other.DecryptByte(b); }).Description(),
                ::testing::StrEq(L"Incorrect size descriptor in DES decryption"))
        << "a stale key would have deciphered";

    // Without a key an instance uses the all-zero DES key.
    clsDES none(Words(1, 2));
    Bytes c = data;
    none.EncryptByte(c);
    EXPECT_EQ(Le32(RawDecipher(c, {}), 8), 30u);
}

TEST(clsDESErrors, DecryptRefusesBrokenCipherLengthsUntouched) {
    clsDES des;
    for (std::size_t n : {0u, 1u, 8u, 15u, 17u, 23u, 31u}) {
        const Bytes data = Random(n, 5);
        Bytes bytes = data;
        const vb::Error e = Caught([&] { des.DecryptByte(bytes, L"k"); });
        EXPECT_EQ(e.Number(), kDesErrorNumber) << n;
        EXPECT_EQ(bytes, data) << n;
    }
}

TEST(clsDESErrors, SizeDescriptorIsCheckedAfterDeciphering) {
    // A header claiming more data than there is, or leaving 8 or more bytes
    // over, is refused; the array then holds the deciphered bytes in full.
    for (std::uint32_t claimed : {0u, 4u, 13u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF4u, 0xFFFFFFFFu}) {
        Bytes plain(24, 0x41);
        plain[8] = static_cast<std::uint8_t>(claimed);
        plain[9] = static_cast<std::uint8_t>(claimed >> 8);
        plain[10] = static_cast<std::uint8_t>(claimed >> 16);
        plain[11] = static_cast<std::uint8_t>(claimed >> 24);
        Bytes cipher = plain;
        des::CbcEncrypt(des::MakeKeySchedule(kAsciiKey), 0, cipher.data(), cipher.size());

        clsDES des;
        const vb::Error e = Caught([&] { des.DecryptByte(cipher, L"Key12345"); });
        EXPECT_EQ(e.Number(), kDesErrorNumber);
        EXPECT_EQ(e.Description(), L"Incorrect size descriptor in DES decryption");
        EXPECT_EQ(cipher, plain) << claimed;
    }
}

// A length field of FFFFFFFF to FFFFFFFD fits a 16-byte cipher text when read
// as a negative number; it is a size error through every entry point.
TEST(clsDESErrors, LengthFieldsAboveTwoGigabytesAreSizeErrors) {
    const std::array<std::uint8_t, 8> key = {'1', '2', '3', '4', '5', '6', '7', '8'};
    // The cipher text found first: key "12345678", length field FFFFFFFF.
    const Bytes found = {0x3D, 0x75, 0x95, 0xA9, 0x8B, 0xFF, 0x80, 0x9D,
                         0x17, 0x89, 0x96, 0x65, 0x55, 0x17, 0x39, 0x94};
    EXPECT_EQ(Le32(RawDecipher(found, key), 8), 0xFFFFFFFFu);

    TempFolder dir;
    for (std::uint32_t claimed : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFDu}) {
        SCOPED_TRACE(claimed);
        Bytes plain(16, 0x33);
        for (int i = 0; i < 4; ++i) plain[8 + i] = static_cast<std::uint8_t>(claimed >> (8 * i));
        Bytes cipher = plain;
        des::CbcEncrypt(des::MakeKeySchedule(key), 0, cipher.data(), cipher.size());

        clsDES des;
        Bytes bytes = cipher;
        vb::Error e = Caught([&] { des.DecryptByte(bytes, L"12345678"); });
        EXPECT_EQ(e.Number(), kDesErrorNumber);
        EXPECT_EQ(e.Description(), L"Incorrect size descriptor in DES decryption");
        EXPECT_EQ(bytes, plain);

        std::wstring hex;
        for (std::uint8_t b : cipher) hex += L"0123456789ABCDEF"[b >> 4], hex += L"0123456789ABCDEF"[b & 15];
        EXPECT_EQ(Caught([&] { des.DecryptString(hex, L"12345678"); }).Number(), kDesErrorNumber);

        WriteFile(dir.Path(L"c.bin"), cipher);
        WriteFile(dir.Path(L"out.bin"), {1, 2, 3});
        EXPECT_EQ(Caught([&] { des.DecryptFile(dir.Name(L"c.bin"), dir.Name(L"out.bin")); }).Number(),
                  kDesErrorNumber);
        EXPECT_EQ(ReadFile(dir.Path(L"out.bin")), Bytes({1, 2, 3}));
    }
}

TEST(clsDESErrors, AFittingHeaderDeciphersWhateverTheKey) {
    // Lengths 5 to 12 all fit a 24-byte cipher text; there is no other check.
    for (std::uint32_t claimed = 5; claimed <= 12; ++claimed) {
        Bytes plain(24, 0x5A);
        plain[8] = static_cast<std::uint8_t>(claimed);
        plain[9] = plain[10] = plain[11] = 0;
        Bytes cipher = plain;
        des::CbcEncrypt(des::MakeKeySchedule({}), 0, cipher.data(), cipher.size());
        clsDES des;
        des.DecryptByte(cipher);
        EXPECT_EQ(cipher, Bytes(claimed, 0x5A));
    }
}

TEST(clsDESProgress, ReportsOfTheExamples) {
    clsDES des;
    std::vector<std::int32_t> seen;
    des.Progress = [&](std::int32_t& percent) {
        seen.push_back(percent);
        percent = 100;  // a handler's change is its own
    };
    Bytes small(1, 7);
    des.EncryptByte(small, L"k");  // 16 bytes of cipher text
    EXPECT_THAT(seen, ElementsAre(0, 50, 100));
    seen.clear();
    des.DecryptByte(small);
    EXPECT_THAT(seen, ElementsAre(0, 50, 100));

    Bytes big(1600 - 12, 1);
    seen.clear();
    des.EncryptByte(big);
    ASSERT_EQ(big.size(), 1600u);
    std::vector<std::int32_t> everyPercent(101);
    for (int i = 0; i <= 100; ++i) everyPercent[i] = i;
    EXPECT_EQ(seen, everyPercent);
    seen.clear();
    des.DecryptByte(big);
    EXPECT_EQ(seen, everyPercent);
}

TEST(clsDESProgress, LargeRunsReportEachPercentAtMostOnce) {
    clsDES des;
    std::vector<std::int32_t> seen;
    des.Progress = [&](std::int32_t& percent) { seen.push_back(percent); };
    for (std::size_t n : {4u, 100u, 777u, 123457u}) {
        Bytes bytes(n, 3);
        seen.clear();
        des.EncryptByte(bytes);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.front(), 0);
        EXPECT_EQ(seen.back(), 100);
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
        EXPECT_EQ(std::set<std::int32_t>(seen.begin(), seen.end()).size(), seen.size());
    }
    // A refused size descriptor ends without the closing 100.
    Bytes junk(24, 0);
    seen.clear();
    Caught([&] { des.DecryptByte(junk, L"other"); });
    EXPECT_THAT(seen, ElementsAre(0, 33, 66));
}

TEST(clsDESStrings, CipherTextIsHexAndRoundTrips) {
    clsDES des;
    for (const std::wstring text : {L"", L"a", L"Hello, world", L"进程管理 DES 测试 — 12345"}) {
        const std::wstring cipher = des.EncryptString(text, L"串钥匙");
        const std::size_t plainBytes = des::ToAnsiBytes(text).size();
        EXPECT_EQ(cipher.size(), 2 * ((plainBytes + 12 + 7) / 8 * 8));
        EXPECT_EQ(cipher.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos);
        EXPECT_EQ(des.DecryptString(cipher), text);
        // Lower-case digits read the same.
        std::wstring lower = cipher;
        for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(c));
        EXPECT_EQ(des.DecryptString(lower), text);
    }
    // Characters code page 936 lacks become "?", as everywhere the tool writes ANSI text.
    EXPECT_EQ(des.DecryptString(des.EncryptString(L"한é€")), L"?é€");
}

TEST(clsDESStrings, MalformedCipherTextIsRefused) {
    clsDES des;
    for (const std::wstring text : {L"ABC", L"0123456789ABCDEFG0123456789ABCDE", L"00 11", L"",
                                    L"0123456789ABCDEF"}) {
        const vb::Error e = Caught([&] { des.DecryptString(text, L"k"); });
        EXPECT_EQ(e.Number(), kDesErrorNumber) << std::string(text.begin(), text.end());
    }
}

TEST(clsDESFiles, RoundTripWithWideNames) {
    TempFolder dir;
    const std::wstring plain = dir.Name(L"明文 文件.txt"), cipher = dir.Name(L"密文.bin"), back = dir.Name(L"还原.txt");
    const Bytes data = Random(100000, 21);
    WriteFile(des::ToPath(plain), data);
    clsDES des;
    des.EncryptFile(plain, cipher, L"文件钥匙");
    EXPECT_EQ(fs::file_size(des::ToPath(cipher)), (data.size() + 12 + 7) / 8 * 8);
    des.DecryptFile(cipher, back);
    EXPECT_EQ(ReadFile(des::ToPath(back)), data);
    EXPECT_EQ(ReadFile(des::ToPath(plain)), data);
    EXPECT_EQ(dir.Entries(), 3u) << "no temporary file is left behind";
}

TEST(clsDESFiles, InPlaceAndOverExistingFiles) {
    TempFolder dir;
    const std::wstring file = dir.Name(L"same.dat"), other = dir.Name(L"other.dat");
    const Bytes data = Random(5000, 4);
    WriteFile(des::ToPath(file), data);
    WriteFile(des::ToPath(other), Random(99999, 5));  // longer than what replaces it
    clsDES des;
    des.EncryptFile(file, file, L"in place");
    EXPECT_EQ(fs::file_size(des::ToPath(file)), 5016u);
    des.DecryptFile(file, other);
    EXPECT_EQ(ReadFile(des::ToPath(other)), data);
    des.DecryptFile(file, file);
    EXPECT_EQ(ReadFile(des::ToPath(file)), data);
    EXPECT_EQ(dir.Entries(), 2u);
}

TEST(clsDESFiles, EmptySourceFile) {
    TempFolder dir;
    WriteFile(dir.Path(L"empty"), {});
    clsDES des;
    des.EncryptFile(dir.Name(L"empty"), dir.Name(L"empty.des"), L"k");
    EXPECT_EQ(fs::file_size(dir.Path(L"empty.des")), 16u);
    des.DecryptFile(dir.Name(L"empty.des"), dir.Name(L"back"));
    EXPECT_EQ(fs::file_size(dir.Path(L"back")), 0u);
    // An empty file is no cipher text: refused, nothing written.
    EXPECT_EQ(Caught([&] { des.DecryptFile(dir.Name(L"empty"), dir.Name(L"x")); }).Number(), kDesErrorNumber);
    EXPECT_FALSE(fs::exists(dir.Path(L"x")));
}

TEST(clsDESFiles, FailuresLoseNothing) {
    TempFolder dir;
    const std::wstring source = dir.Name(L"source.bin"), dest = dir.Name(L"dest.bin");
    const Bytes data = Random(3000, 8), old = Random(77, 9);
    WriteFile(des::ToPath(source), data);
    WriteFile(des::ToPath(dest), old);
    clsDES des;

    // Missing source: the class's own text, in both directions; nothing written.
    for (bool encrypt : {true, false}) {
        const vb::Error e = Caught([&] {
            const std::wstring missing = dir.Name(L"missing.bin");
            encrypt ? des.EncryptFile(missing, dest) : des.DecryptFile(missing, dest);
        });
        EXPECT_EQ(e.Number(), kDesErrorNumber);
        EXPECT_EQ(e.Description(), L"Error in Skipjack EncryptFile procedure (Source file does not exist).");
    }
    EXPECT_EQ(ReadFile(des::ToPath(dest)), old);

    // A source that is no cipher text (or the wrong key): the destination stays.
    Caught([&] { des.DecryptFile(source, dest, L"k"); });
    EXPECT_EQ(ReadFile(des::ToPath(dest)), old);
    des.EncryptFile(source, dir.Name(L"c.bin"), L"right");
    Caught([&] { des.DecryptFile(dir.Name(L"c.bin"), dest, L"wrong"); });
    EXPECT_EQ(ReadFile(des::ToPath(dest)), old);

    // A destination that cannot be replaced (a folder of that name): the
    // source survives.
    fs::create_directory(dir.Path(L"folder"));
    const vb::Error e = Caught([&] { des.EncryptFile(source, dir.Name(L"folder")); });
    EXPECT_EQ(e.Number(), 75);
    EXPECT_EQ(ReadFile(des::ToPath(source)), data);
    EXPECT_TRUE(fs::is_directory(dir.Path(L"folder")));

    // A destination folder that does not exist.
    EXPECT_EQ(Caught([&] { des.EncryptFile(source, dir.Name(L"no/such.bin")); }).Number(), 75);
    EXPECT_EQ(dir.Entries(), 4u) << "no temporary file is left behind";
}
