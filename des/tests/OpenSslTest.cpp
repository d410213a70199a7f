// The class's whole output against openssl's DES-CBC (zero IV, no padding)
// of the header, the data and the zero padding, assembled here by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "des/AnsiText.h"
#include "des/clsDES.h"
#include "des/tests/TestSupport.h"

using namespace des_test;

namespace {

class OpenSsl : public ::testing::Test {
protected:
    // openssl enc -des-cbc over `input` with the 8 key bytes given in hex.
    Bytes Run(const Bytes& input, const std::string& keyHex, bool decrypt) {
        const auto in = dir_.Path(L"in"), out = dir_.Path(L"out");
        WriteFile(in, input);
        const std::string command = std::string("\"") + MORVIX_OPENSSL + "\" enc -des-cbc" + (decrypt ? " -d" : "") +
                                    " -provider legacy -provider default -K " + keyHex +
                                    " -iv 0000000000000000 -nopad -in \"" + in.string() + "\" -out \"" +
                                    out.string() + "\"";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return ReadFile(out);
    }

    // The plain layout: two words, the length (little-endian), data, zeros.
    static Bytes Assemble(std::uint32_t w1, std::uint32_t w2, const Bytes& data) {
        Bytes plain;
        for (std::uint32_t v : {w1, w2, static_cast<std::uint32_t>(data.size())})
            for (int i = 0; i < 4; ++i) plain.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        plain.insert(plain.end(), data.begin(), data.end());
        plain.resize((plain.size() + 7) / 8 * 8, 0);
        return plain;
    }

    static std::string KeyHex(const std::wstring& key) {
        const std::string bytes = des::ToAnsiBytes(key);
        std::string hex;
        for (std::size_t i = 0; i < 8; ++i) {
            char two[3];
            const unsigned b = i < bytes.size() && i < key.size() ? static_cast<unsigned char>(bytes[i]) : 0;
            std::snprintf(two, sizeof two, "%02X", b);
            hex += two;
        }
        return hex;
    }

    TempFolder dir_;
};

TEST_F(OpenSsl, EncryptByteMatchesAcrossSizesAndKeys) {
    const std::wstring keys[] = {L"Key12345", L"abc", L"abcdefghXYZ", L"密钥", L"`cbedgfi"};
    const std::size_t sizes[] = {0, 1, 4, 5, 12, 20, 255, 4096, 65539};
    unsigned seed = 1;
    for (const auto& key : keys) {
        for (std::size_t n : sizes) {
            const Bytes data = Random(n, seed++);
            const std::uint32_t w1 = seed * 2654435761u % 2147483648u, w2 = 2147483647u - seed;
            clsDES des(Words(w1, w2));
            Bytes ours = data;
            des.EncryptByte(ours, key);
            ASSERT_EQ(ours, Run(Assemble(w1, w2, data), KeyHex(key), false)) << n;
        }
    }
}

TEST_F(OpenSsl, WithoutAKeyTheAllZeroKeyIsUsed) {
    const Bytes data = Random(100, 77);
    clsDES des(Words(0, 0));
    Bytes ours = data;
    des.EncryptByte(ours);
    EXPECT_EQ(ours, Run(Assemble(0, 0, data), "0000000000000000", false));
}

TEST_F(OpenSsl, DecryptByteReadsOpenSslCipherText) {
    for (std::size_t n : {0u, 3u, 8u, 1000u, 1048576u}) {
        const Bytes data = Random(n, static_cast<unsigned>(n) + 5);
        Bytes cipher = Run(Assemble(123, 456, data), KeyHex(L"openssl!"), false);
        clsDES des;
        des.DecryptByte(cipher, L"openssl!");
        ASSERT_EQ(cipher, data) << n;
    }
}

TEST_F(OpenSsl, FilesAndStringsAgree) {
    const Bytes data = Random(30000, 99);
    WriteFile(dir_.Path(L"plain.bin"), data);
    clsDES des(Words(0x7FFFFFFF, 1));
    des.EncryptFile(dir_.Name(L"plain.bin"), dir_.Name(L"plain.des"), L"file key");
    const Bytes written = ReadFile(dir_.Path(L"plain.des"));
    EXPECT_EQ(written, Run(Assemble(0x7FFFFFFF, 1, data), KeyHex(L"file key"), false));

    // openssl deciphers what the class wrote; the header and padding come back.
    const Bytes plain = Run(written, KeyHex(L"file key"), true);
    EXPECT_EQ(plain, Assemble(0x7FFFFFFF, 1, data));

    const std::wstring text = L"进程 process 管理";
    const std::wstring hex = des.EncryptString(text, L"串");
    Bytes cipher;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        cipher.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.begin() + i, hex.begin() + i + 2), nullptr, 16)));
    const std::string ansi = des::ToAnsiBytes(text);
    EXPECT_EQ(cipher, Run(Assemble(0x7FFFFFFF, 1, Bytes(ansi.begin(), ansi.end())), KeyHex(L"串"), false));
}

}  // namespace
