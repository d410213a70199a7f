#include "platform/vb/Format.h"

#include <cmath>
#include <cwctype>

namespace vb {

namespace {

// Format rounds halves away from zero.
long long RoundAway(double value) {
    return static_cast<long long>(value < 0 ? std::ceil(value - 0.5) : std::floor(value + 0.5));
}

}  // namespace

std::wstring FormatThousands(double value) {
    long long n = RoundAway(value);
    if (n == 0) return L"";
    bool negative = n < 0;
    unsigned long long u = negative ? 0ULL - static_cast<unsigned long long>(n) : n;
    std::wstring digits = std::to_wstring(u);
    std::wstring out;
    int count = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (count && count % 3 == 0) out.insert(out.begin(), L',');
        out.insert(out.begin(), *it);
        ++count;
    }
    return negative ? L"-" + out : out;
}

std::wstring FormatZeroFill(double value, int minDigits) {
    long long n = RoundAway(value);
    bool negative = n < 0;
    unsigned long long u = negative ? 0ULL - static_cast<unsigned long long>(n) : n;
    std::wstring digits = std::to_wstring(u);
    if (static_cast<int>(digits.size()) < minDigits)
        digits.insert(0, static_cast<size_t>(minDigits) - digits.size(), L'0');
    return negative ? L"-" + digits : digits;
}

double ParseDisplayedNumber(const std::wstring& text) {
    double value = 0;
    bool any = false, negative = false;
    for (wchar_t c : text) {
        if (c == L',' || c == L' ') continue;
        if (c == L'-' && !any) { negative = true; continue; }
        if (c < L'0' || c > L'9') break;
        value = value * 10 + (c - L'0');
        any = true;
    }
    return negative ? -value : value;
}

long long RoundHalfEven(double value) { return static_cast<long long>(std::nearbyint(value)); }

std::wstring Trim(const std::wstring& text, const wchar_t* characters) {
    const size_t first = text.find_first_not_of(characters);
    if (first == std::wstring::npos) return L"";
    return text.substr(first, text.find_last_not_of(characters) - first + 1);
}

}  // namespace vb
