#pragma once
// The few Format patterns the program uses, with VB's rounding.  Portable.
#include <string>

namespace vb {

// "###,###,###": thousands separators, no decimals, rounded; 0 gives "".
std::wstring FormatThousands(double value);
// "0", "00", "000000000" ...: at least that many digits, zero-filled; "#00" = "00".
std::wstring FormatZeroFill(double value, int minDigits);
// Val() of a displayed number: digits with optional thousands separators.
double ParseDisplayedNumber(const std::wstring& text);
// Trim(): the text without the given characters (VB's: blanks) at either end.
std::wstring Trim(const std::wstring& text, const wchar_t* characters = L" ");
// VB's CInt/CLng rounding: to the nearest whole number, halves to the even one.
long long RoundHalfEven(double value);

}  // namespace vb
