#include "des/AnsiText.h"

#include <windows.h>

namespace des {
namespace {
constexpr UINT kCodePage = 936;
}

std::string ToAnsiBytes(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = ::WideCharToMultiByte(kCodePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(kCodePage, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromAnsiBytes(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(kCodePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(kCodePage, 0, bytes.data(), size, out.data(), n);
    return out;
}

}  // namespace des
