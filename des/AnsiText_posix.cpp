// The host build's code page 936 through iconv.  std::wstring holds UTF-16
// code units here too, so it is handed to iconv as UTF-16LE.
#include "des/AnsiText.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace des {
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: code page 936 is not available");
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of `in`; an input unit that cannot be converted (unitSize
    // bytes, or a whole surrogate pair) becomes `replacement`.
    std::string Run(std::string in, std::size_t unitSize, std::string_view replacement) {
        std::string out;
        char buffer[4096];
        char* src = in.data();
        std::size_t left = in.size();
        while (left > 0) {
            char* dst = buffer;
            std::size_t room = sizeof buffer;
            const std::size_t rc = iconv(cd_, &src, &left, &dst, &room);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (rc != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL: skip one unit (a whole pair for a high surrogate).
            std::size_t skip = unitSize;
            if (unitSize == 2 && left >= 4) {
                const unsigned unit = static_cast<unsigned char>(src[0]) | (static_cast<unsigned char>(src[1]) << 8);
                if (unit >= 0xD800 && unit < 0xDC00) skip = 4;
            }
            if (skip > left) skip = left;
            src += skip;
            left -= skip;
            out.append(replacement);
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

std::string ToAnsiBytes(std::wstring_view text) {
    std::string utf16;
    utf16.reserve(text.size() * 2);
    for (wchar_t c : text) {
        const auto unit = static_cast<unsigned>(c) & 0xFFFFu;
        utf16.push_back(static_cast<char>(unit & 0xFF));
        utf16.push_back(static_cast<char>(unit >> 8));
    }
    Converter cv("CP936", "UTF-16LE");
    return cv.Run(std::move(utf16), 2, "?");
}

std::wstring FromAnsiBytes(std::string_view bytes) {
    Converter cv("UTF-16LE", "CP936");
    const std::string utf16 = cv.Run(std::string(bytes), 1, std::string("?\0", 2));
    std::wstring out;
    out.reserve(utf16.size() / 2);
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2)
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(utf16[i]) |
                                           (static_cast<unsigned char>(utf16[i + 1]) << 8)));
    return out;
}

}  // namespace des
