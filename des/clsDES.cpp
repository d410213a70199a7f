#include "des/clsDES.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>

#include "des/AnsiText.h"
#include "des/FileName.h"
#include "platform/vb/VbError.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::uint32_t kRandomMax = 2147483647;
constexpr long kErrOverflow = 6;
constexpr long kErrFileAccess = 75;

constexpr const wchar_t* kBadSizeDescriptor = L"Incorrect size descriptor in DES decryption";
constexpr const wchar_t* kBadCipherSize =
    L"Incorrect cipher text size in DES decryption (a whole number of 8-byte blocks, at least 16 bytes)";
constexpr const wchar_t* kBadCipherText = L"Incorrect cipher text in DES decryption (hexadecimal digits expected)";
constexpr const wchar_t* kNoSourceFile = L"Error in Skipjack EncryptFile procedure (Source file does not exist).";

[[noreturn]] void Raise(long number, const wchar_t* member, const std::wstring& description) {
    throw vb::Error(number, std::wstring(L"clsDES.") + member, description);
}

void PutLong(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetLong(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

std::vector<std::uint8_t> ReadWholeFile(const fs::path& path, const wchar_t* member, const std::wstring& name) {
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (!in || ec) Raise(kErrFileAccess, member, L"Path/File access error: cannot read " + name);
    // Neither a plain text nor a cipher text can be longer than the header can describe.
    if (size > static_cast<std::uintmax_t>(INT32_MAX))
        Raise(kErrOverflow, member, L"Overflow: the file is too large for DES encryption: " + name);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uintmax_t>(in.gcount()) != size)
        Raise(kErrFileAccess, member, L"Path/File access error: cannot read " + name);
    return bytes;
}

std::wstring ToHex(const std::vector<std::uint8_t>& bytes) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

std::uint64_t SeedMaterial() {
    static std::atomic<std::uint64_t> instances{0};
    const auto now = static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    return now ^ (instances.fetch_add(1) * 0x9E3779B97F4A7C15ull);
}

}  // namespace

clsDES::clsDES(RandomWords random) : random_(std::move(random)) {
    // Seeded once, from the system's random source where there is one; the
    // clock and an instance count keep two instances apart even without it.
    const std::uint64_t extra = SeedMaterial();
    std::array<std::uint32_t, 8> seed{};
    try {
        std::random_device device;
        for (auto& word : seed) word = device();
    } catch (...) {
    }
    seed[6] ^= static_cast<std::uint32_t>(extra);
    seed[7] ^= static_cast<std::uint32_t>(extra >> 32);
    std::seed_seq sequence(seed.begin(), seed.end());
    generator_.seed(sequence);
}

void clsDES::Key(const std::wstring& New_Value) {
    if (New_Value == keyText_) return;
    keyText_ = New_Value;
    const std::string bytes = des::ToAnsiBytes(New_Value);
    std::array<std::uint8_t, 8> key{};
    const std::size_t n = std::min({New_Value.size(), bytes.size(), key.size()});
    std::memcpy(key.data(), bytes.data(), n);
    schedule_ = des::MakeKeySchedule(key);
}

void clsDES::UseKey(const std::wstring& key) {
    if (!key.empty()) Key(key);
}

std::uint32_t clsDES::NextRandomWord() {
    if (random_) return random_();
    return std::uniform_int_distribution<std::uint32_t>(0, kRandomMax)(generator_);
}

void clsDES::RaiseProgress(std::int32_t percent) {
    if (Progress) {
        std::int32_t value = percent;
        Progress(value);
    }
}

// CBC over the whole array with a zero IV, reporting progress after the
// first block at or beyond each threshold.  Blocks between two reports run
// in one call of the cipher core.  Returns the last percentage reported.
std::int32_t clsDES::Crypt(Direction direction, std::uint8_t* data, std::size_t total) {
    const des::KeySchedule schedule = schedule_;  // a Key change in a handler applies to later calls
    std::uint64_t chain = 0;
    std::size_t pos = 0;
    std::int64_t threshold = 0;
    std::int32_t last = -1;
    while (pos < total) {
        std::size_t report = pos;
        if (threshold > static_cast<std::int64_t>(pos))
            report = static_cast<std::size_t>((threshold + 7) / 8 * 8);
        const std::size_t end = report < total ? report + 8 : total;
        chain = direction == Direction::Encrypt ? des::CbcEncrypt(schedule, chain, data + pos, end - pos)
                                                : des::CbcDecrypt(schedule, chain, data + pos, end - pos);
        pos = end;
        if (report < total) {
            const auto percent = static_cast<std::int32_t>(
                std::floor(static_cast<double>(report) / static_cast<double>(total) * 100.0));
            threshold = std::llrint((percent + 1) / 100.0 * static_cast<double>(total) + 1.0);
            RaiseProgress(percent);
            last = percent;
        }
    }
    return last;
}

void clsDES::EncryptByte(std::vector<std::uint8_t>& ByteArray, const std::wstring& Key) {
    UseKey(Key);
    const std::size_t length = ByteArray.size();
    const std::uint64_t total = (static_cast<std::uint64_t>(length) + kHeaderSize + 7) / 8 * 8;
    if (total > static_cast<std::uint64_t>(INT32_MAX))
        Raise(kErrOverflow, L"EncryptByte", L"Overflow: the data is too long for the length header");

    ByteArray.resize(static_cast<std::size_t>(total));  // new bytes are zero: the padding
    std::uint8_t* data = ByteArray.data();
    std::memmove(data + kHeaderSize, data, length);
    PutLong(data, NextRandomWord());
    PutLong(data + 4, NextRandomWord());
    PutLong(data + 8, static_cast<std::uint32_t>(length));

    if (Crypt(Direction::Encrypt, data, ByteArray.size()) != 100) RaiseProgress(100);
}

void clsDES::DecryptByte(std::vector<std::uint8_t>& ByteArray, const std::wstring& Key) {
    UseKey(Key);
    const std::size_t total = ByteArray.size();
    if (total % 8 != 0 || total < 16) Raise(kDesErrorNumber, L"DecryptByte", kBadCipherSize);

    const std::int32_t last = Crypt(Direction::Decrypt, ByteArray.data(), total);

    // Read unsigned: as a negative Long, FFFFFFFF to FFFFFFFD would fit a
    // 16-byte cipher text and reach the move below with a huge size.
    const std::int64_t length = GetLong(ByteArray.data() + 8);
    const std::int64_t slack = static_cast<std::int64_t>(total) - length - static_cast<std::int64_t>(kHeaderSize);
    if (slack < 0 || slack > 7) Raise(kDesErrorNumber, L"DecryptByte", kBadSizeDescriptor);

    std::memmove(ByteArray.data(), ByteArray.data() + kHeaderSize, static_cast<std::size_t>(length));
    ByteArray.resize(static_cast<std::size_t>(length));
    if (last != 100) RaiseProgress(100);
}

std::wstring clsDES::EncryptString(const std::wstring& Text, const std::wstring& Key) {
    const std::string plain = des::ToAnsiBytes(Text);
    std::vector<std::uint8_t> bytes(plain.begin(), plain.end());
    EncryptByte(bytes, Key);
    return ToHex(bytes);
}

std::wstring clsDES::DecryptString(const std::wstring& Text, const std::wstring& Key) {
    if (Text.size() % 2 != 0) Raise(kDesErrorNumber, L"DecryptString", kBadCipherText);
    std::vector<std::uint8_t> bytes(Text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = HexValue(Text[2 * i]);
        const int low = HexValue(Text[2 * i + 1]);
        if (high < 0 || low < 0) Raise(kDesErrorNumber, L"DecryptString", kBadCipherText);
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    DecryptByte(bytes, Key);
    return des::FromAnsiBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void clsDES::EncryptFile(const std::wstring& SourceFile, const std::wstring& DestFile, const std::wstring& Key) {
    CryptFile(Direction::Encrypt, SourceFile, DestFile, Key);
}

void clsDES::DecryptFile(const std::wstring& SourceFile, const std::wstring& DestFile, const std::wstring& Key) {
    CryptFile(Direction::Decrypt, SourceFile, DestFile, Key);
}

// The whole source is read and processed before anything is written; the
// result goes to a temporary file beside the destination, which replaces the
// destination only once it is complete.  A failure at any step leaves both
// the source and the old destination as they were.
void clsDES::CryptFile(Direction direction, const std::wstring& source, const std::wstring& dest,
                       const std::wstring& key) {
    const wchar_t* member = direction == Direction::Encrypt ? L"EncryptFile" : L"DecryptFile";
    const fs::path sourcePath = des::ToPath(source);
    std::error_code ec;
    if (!fs::is_regular_file(sourcePath, ec)) Raise(kDesErrorNumber, member, kNoSourceFile);

    std::vector<std::uint8_t> bytes = ReadWholeFile(sourcePath, member, source);
    if (direction == Direction::Encrypt)
        EncryptByte(bytes, key);
    else
        DecryptByte(bytes, key);

    const fs::path destPath = des::ToPath(dest);
    const std::wstring cannotWrite = L"Path/File access error: cannot write " + dest;
    fs::path temp;
    for (int attempt = 0; attempt < 16; ++attempt) {
        wchar_t name[32];
        std::swprintf(name, 32, L"~des%08X%08X.tmp", static_cast<unsigned>(generator_()),
                      static_cast<unsigned>(generator_()));
        temp = destPath.parent_path() / des::ToPath(name);
        if (!fs::exists(temp, ec)) break;
    }

    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) Raise(kErrFileAccess, member, cannotWrite);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (out.fail()) {
            fs::remove(temp, ec);
            Raise(kErrFileAccess, member, cannotWrite);
        }
    }
    fs::rename(temp, destPath, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        Raise(kErrFileAccess, member, cannotWrite);
    }
}
