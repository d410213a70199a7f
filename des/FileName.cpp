#include "des/FileName.h"

#include <cstdint>

namespace des {

std::filesystem::path ToPath(const std::wstring& name) {
#ifdef _WIN32
    return std::filesystem::path(name);
#else
    std::string utf8;
    for (std::size_t i = 0; i < name.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(name[i]) & 0xFFFFu;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < name.size()) {
            const std::uint32_t low = static_cast<std::uint32_t>(name[i + 1]) & 0xFFFFu;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone surrogate
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return std::filesystem::path(utf8);
#endif
}

}  // namespace des
