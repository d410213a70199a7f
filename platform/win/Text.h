#pragma once
// Conversions between UTF-16 and the ANSI bytes that leave the program.
// Code page 936 (Simplified Chinese) is explicit: the tests' Wine prefix runs
// with code page 1252, and the product's ANSI files must not depend on it.
#include <string>
#include <string_view>

namespace win {

constexpr unsigned kChineseCodePage = 936;

std::string ToAnsi(std::wstring_view text, unsigned codePage = kChineseCodePage);
std::wstring FromAnsi(std::string_view bytes, unsigned codePage = kChineseCodePage);
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view bytes);

// FormatMessage text of a Win32 error code, trimmed of its line end.
std::wstring LastErrorText(unsigned long code);

}  // namespace win
