#pragma once
// clsDES: DES in CBC mode over byte arrays, strings and whole files, with a
// 12-byte header in front of the data:
//   two random 32-bit words, the data length (all little-endian), the data,
//   0 to 7 zero bytes up to a whole block; all of it enciphered with a zero IV.
// Failures are raised as vb::Error; the format's own errors carry
// kDesErrorNumber (&H80040000).
#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "des/DesCore.h"

// <windows.h> maps the file-system encryption calls EncryptFile/DecryptFile,
// which this program never uses, onto their W names; the members keep theirs.
#ifdef EncryptFile
#undef EncryptFile
#endif
#ifdef DecryptFile
#undef DecryptFile
#endif

constexpr long kDesErrorNumber = -2147221504;  // &H80040000

class clsDES {
public:
    // Supplies the header's random words (0 to 2147483647).  Empty: a generator
    // of the instance's own, seeded once from the system's random source.
    using RandomWords = std::function<std::uint32_t()>;

    explicit clsDES(RandomWords random = {});
    // One generator per instance: a copy would repeat its header words.
    clsDES(const clsDES&) = delete;
    clsDES& operator=(const clsDES&) = delete;

    // A non-empty Key argument is assigned to Key first and stays in force.
    void EncryptByte(std::vector<std::uint8_t>& ByteArray, const std::wstring& Key = L"");
    void DecryptByte(std::vector<std::uint8_t>& ByteArray, const std::wstring& Key = L"");
    void EncryptFile(const std::wstring& SourceFile, const std::wstring& DestFile, const std::wstring& Key = L"");
    void DecryptFile(const std::wstring& SourceFile, const std::wstring& DestFile, const std::wstring& Key = L"");
    // Plain text travels as code page 936 bytes; cipher text as hexadecimal
    // digits, which survive any code page the string is later stored in.
    std::wstring EncryptString(const std::wstring& Text, const std::wstring& Key = L"");
    std::wstring DecryptString(const std::wstring& Text, const std::wstring& Key = L"");

    // Write-only: the first 8 bytes of the text in code page 936 (as many bytes
    // as the text has characters), padded with zero bytes.
    void Key(const std::wstring& New_Value);

    // Raised during every array operation: 0 first, 100 last when it
    // succeeds, at most one report per percent between.  The handler may change Percent; that
    // changes nothing here.
    std::function<void(std::int32_t& Percent)> Progress;

private:
    enum class Direction { Encrypt, Decrypt };
    void UseKey(const std::wstring& key);
    std::int32_t Crypt(Direction direction, std::uint8_t* data, std::size_t total);
    void RaiseProgress(std::int32_t percent);
    void CryptFile(Direction direction, const std::wstring& source, const std::wstring& dest,
                   const std::wstring& key);
    std::uint32_t NextRandomWord();

    std::wstring keyText_;
    des::KeySchedule schedule_;
    RandomWords random_;
    std::mt19937_64 generator_;
};
