// libFuzzer target for clsDES's deciphering.  Random cipher text almost never
// deciphers to a header worth looking at, so the fuzzer's bytes are taken as
// the plain text instead: the first 12 as the header (random words and the
// length field, any value), the rest as the data, enciphered with the fixed
// key below.  Every length field, sane or not, then reaches DecryptByte,
// DecryptString and DecryptFile's shared check.  Each must decipher to
// exactly the data or raise the class's size error, leaving the whole
// deciphered array in place; EncryptByte of the data must round-trip.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "des/DesCore.h"
#include "des/clsDES.h"
#include "platform/vb/VbError.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Progress always starts at 0, rises, and stays within 0..100.
struct ProgressWatch {
    std::int32_t last = -1;
    void Attach(clsDES& des) {
        last = -1;
        des.Progress = [this](std::int32_t& percent) {
            Check(percent >= 0 && percent <= 100);
            Check(last == -1 ? percent == 0 : percent > last);
            last = percent;
        };
    }
};

const std::array<std::uint8_t, 8> kKeyBytes = {'f', 'u', 'z', 'z', 'k', 'e', 'y', 0};

std::wstring Hex(const std::vector<std::uint8_t>& bytes) {
    std::wstring text;
    for (std::uint8_t b : bytes) {
        text += L"0123456789ABCDEF"[b >> 4];
        text += L"0123456789ABCDEF"[b & 15];
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static clsDES des([] { return std::uint32_t{0x2A2A2A2A}; });
    static const des::KeySchedule schedule = des::MakeKeySchedule(kKeyBytes);
    static ProgressWatch watch;
    des.Key(L"fuzzkey");

    // The plain text: the input padded with zeros to whole blocks, at least two.
    std::vector<std::uint8_t> plain(data, data + size);
    plain.resize(std::max<std::size_t>(16, (size + 7) / 8 * 8), 0);
    std::vector<std::uint8_t> cipher = plain;
    des::CbcEncrypt(schedule, 0, cipher.data(), cipher.size());

    const std::size_t total = plain.size();
    const std::uint32_t length = plain[8] | plain[9] << 8 | plain[10] << 16 | std::uint32_t(plain[11]) << 24;
    const bool fits = length <= total - 12 && total - 12 - length <= 7;

    std::vector<std::uint8_t> bytes = cipher;
    watch.Attach(des);
    try {
        des.DecryptByte(bytes);
        Check(fits);
        Check(bytes == std::vector<std::uint8_t>(plain.begin() + 12, plain.begin() + 12 + length));
        Check(watch.last == 100);
    } catch (const vb::Error& e) {
        Check(!fits && e.Number() == kDesErrorNumber);
        Check(bytes == plain);
    }

    // The same cipher text as a string: the same verdict.
    watch.Attach(des);
    try {
        (void)des.DecryptString(Hex(cipher));
        Check(fits);
    } catch (const vb::Error& e) {
        Check(!fits && e.Number() == kDesErrorNumber);
    }

    // The raw input as a cipher text of its own (lengths that are no whole
    // blocks are refused untouched).
    const std::vector<std::uint8_t> input(data, data + size);
    bytes = input;
    watch.Attach(des);
    try {
        des.DecryptByte(bytes);
        Check(size % 8 == 0 && size >= 16 && bytes.size() + 12 <= size && size - 12 - bytes.size() <= 7);
    } catch (const vb::Error& e) {
        Check(e.Number() == kDesErrorNumber);
        Check(size % 8 != 0 || size < 16 ? bytes == input : bytes.size() == size);
    }

    bytes = input;
    watch.Attach(des);
    des.EncryptByte(bytes);
    Check(bytes.size() == (size + 12 + 7) / 8 * 8 && watch.last == 100);
    watch.Attach(des);
    des.DecryptByte(bytes);
    Check(bytes == input);
    return 0;
}
