// libFuzzer target: DecryptByte (and DecryptString) on arbitrary input must
// either decipher to a consistent length or raise the class's own error,
// leaving refused input untouched; EncryptByte of the input must round-trip.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Fixed header words, so that the committed corpus holds valid cipher
    // texts under the fixed key for the fuzzer to mutate.
    static clsDES des([] { return std::uint32_t{0x2A2A2A2A}; });
    static ProgressWatch watch;
    des.Key(L"fuzzkey");

    const std::vector<std::uint8_t> input(data, data + size);
    std::vector<std::uint8_t> bytes = input;
    watch.Attach(des);
    try {
        des.DecryptByte(bytes);
        Check(size % 8 == 0 && size >= 16);
        Check(bytes.size() + 12 <= size && size - 12 - bytes.size() <= 7);
        Check(watch.last == 100);
    } catch (const vb::Error& e) {
        Check(e.Number() == kDesErrorNumber);
        if (size % 8 != 0 || size < 16)
            Check(bytes == input);
        else
            Check(bytes.size() == size);
    }

    bytes = input;
    watch.Attach(des);
    des.EncryptByte(bytes);
    Check(bytes.size() == (size + 12 + 7) / 8 * 8 && watch.last == 100);
    watch.Attach(des);
    des.DecryptByte(bytes);
    Check(bytes == input);

    // The same bytes as a cipher string, one character per byte.
    std::wstring text(input.begin(), input.end());
    watch.Attach(des);
    try {
        des.DecryptString(text);
    } catch (const vb::Error& e) {
        Check(e.Number() == kDesErrorNumber);
    }
    return 0;
}
