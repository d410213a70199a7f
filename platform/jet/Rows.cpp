#include "platform/jet/Rows.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "platform/jet/Pager.h"

namespace jet {

namespace {

std::wstring Widen(const char* s) { return std::wstring(s, s + std::strlen(s)); }

std::wstring Trim(const std::wstring& s) {
    std::size_t a = s.find_first_not_of(L" \t"), b = s.find_last_not_of(L" \t");
    return a == std::wstring::npos ? std::wstring() : s.substr(a, b - a + 1);
}

bool ParseInteger(const std::wstring& text, long long lo, long long hi, long long& out) {
    std::wstring s = Trim(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == L'-' || s[i] == L'+')) negative = s[i++] == L'-';
    if (i == s.size()) return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < L'0' || s[i] > L'9') return false;
        v = v * 10 + (s[i] - L'0');
        if (v > hi + 1) return false;
    }
    if (negative) v = -v;
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

bool ParseReal(const std::wstring& text, double& out) {
    std::wstring s = Trim(text);
    if (s.empty()) return false;
    std::string narrow;
    for (wchar_t c : s) {
        if (c > 0x7F) return false;
        narrow.push_back(char(c));
    }
    char* end = nullptr;
    out = std::strtod(narrow.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out);
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = unsigned(y - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = unsigned(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = yoe + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

constexpr long long kOleEpoch = -25569;  // 1899-12-30 in days since 1970-01-01

std::wstring FormatReal(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return Widen(buf);
}

// A Numeric (decimal) value: a sign byte (0x80 negative), then the 128-bit
// magnitude as four 32-bit little-endian words, the most significant first;
// `scale` digits of it lie after the point.  Trailing zeros after the point
// are dropped, as for Currency.
std::wstring NumericText(const std::uint8_t* p, unsigned scale) {
    std::uint32_t words[4];
    for (int k = 0; k < 4; ++k) words[k] = Get32(p + 1 + 4 * k);
    std::wstring digits;
    bool more = true;
    while (more) {
        std::uint64_t rest = 0;
        more = false;
        for (auto& w : words) {
            std::uint64_t current = rest << 32 | w;
            w = std::uint32_t(current / 10);
            rest = current % 10;
            more |= w != 0;
        }
        digits.insert(digits.begin(), wchar_t(L'0' + rest));
    }
    if (scale > 0) {
        if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), L'0');
        std::wstring whole = digits.substr(0, digits.size() - scale), fraction = digits.substr(digits.size() - scale);
        while (!fraction.empty() && fraction.back() == L'0') fraction.pop_back();
        digits = fraction.empty() ? whole : whole + L"." + fraction;
    }
    bool negative = (p[0] & 0x80) != 0 && digits != L"0";
    return negative ? L"-" + digits : digits;
}

}  // namespace

std::wstring HexText(const std::uint8_t* data, std::size_t n) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring out;
    out.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

std::wstring FormatDate(double ole) {
    if (!std::isfinite(ole) || ole < -657434.0 || ole > 2958466.0) return FormatReal(ole, 15);
    double days = std::floor(ole);
    long long seconds = std::llround((ole - days) * 86400.0);
    long long day = (long long)days;
    if (seconds >= 86400) {
        ++day;
        seconds -= 86400;
    }
    long long y;
    unsigned m, d;
    CivilFromDays(day + kOleEpoch, y, m, d);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    return Widen(buf);
}

bool ParseDate(const std::wstring& text, double& ole) {
    std::wstring s = Trim(text);
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    int used = 0;
    if (std::swscanf(s.c_str(), L"%4u-%2u-%2u%n", &y, &mo, &d, &used) != 3) return false;
    std::wstring rest = Trim(s.substr(std::size_t(used)));
    if (!rest.empty()) {
        int used2 = 0;
        int got = std::swscanf(rest.c_str(), L"%2u:%2u:%2u%n", &h, &mi, &se, &used2);
        if (got < 3) {
            se = 0;
            used2 = 0;
            if (std::swscanf(rest.c_str(), L"%2u:%2u%n", &h, &mi, &used2) != 2) return false;
        }
        if (std::size_t(used2) != rest.size()) return false;
    }
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return false;
    long long y2;
    unsigned m2, d2;
    long long days = DaysFromCivil(y, mo, d);
    CivilFromDays(days, y2, m2, d2);
    if (m2 != mo || d2 != d) return false;  // 31 April and the like
    ole = double(days - kOleEpoch) + (h * 3600 + mi * 60 + se) / 86400.0;
    return true;
}

double OleDateNow() { return double(std::time(nullptr)) / 86400.0 - double(kOleEpoch); }

Value DecodeField(const Column& c, const std::uint8_t* p, std::size_t n, const LongValueReader& longValue) {
    switch (c.type) {
    case type::Byte: return std::to_wstring(p[0]);
    case type::Integer: return std::to_wstring(std::int16_t(Get16(p)));
    case type::Long: return std::to_wstring(std::int32_t(Get32(p)));
    case type::Currency: {
        std::int64_t v = std::int64_t(std::uint64_t(Get32(p)) | std::uint64_t(Get32(p + 4)) << 32);
        std::uint64_t a = v < 0 ? std::uint64_t(0) - std::uint64_t(v) : std::uint64_t(v);
        std::wstring out = (v < 0 ? L"-" : L"") + std::to_wstring(a / 10000);
        std::wstring frac = std::to_wstring(10000 + a % 10000).substr(1);
        while (!frac.empty() && frac.back() == L'0') frac.pop_back();
        return frac.empty() ? out : out + L"." + frac;
    }
    case type::Single: {
        float f;
        std::memcpy(&f, p, 4);
        return FormatReal(f, 7);
    }
    case type::Double: {
        double v;
        std::memcpy(&v, p, 8);
        return FormatReal(v, 15);
    }
    case type::DateTime: {
        double v;
        std::memcpy(&v, p, 8);
        return FormatDate(v);
    }
    case type::GUID: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(Get32(p)),
                      unsigned(Get16(p + 4)), unsigned(Get16(p + 6)), p[8], p[9], p[10], p[11], p[12], p[13],
                      p[14], p[15]);
        return Widen(buf);
    }
    case type::Numeric:
        if (n >= 17) return NumericText(p, c.scale);
        return HexText(p, n);
    case type::Text: return DecodeText(p, n);
    case type::Memo: return longValue(p, n, true);
    case type::OLE: return longValue(p, n, false);
    default: return HexText(p, n);  // Binary and types of later formats
    }
}

std::vector<std::uint8_t> EncodeField(const Column& c, const Value& value, bool& present) {
    present = false;
    std::vector<std::uint8_t> out;
    if (c.type == type::Boolean) {
        if (value) {
            std::wstring s = FoldCase(Trim(*value));
            if (s == L"true" || s == L"yes" || s == L"-1" || s == L"1" || s == L"on")
                present = true;
            else if (!(s == L"false" || s == L"no" || s == L"0" || s == L"off"))
                throw Error(err::ConversionError, L"Data type conversion error.");
        }
        return out;
    }
    if (!value) return out;
    present = true;
    const std::wstring& v = *value;
    auto bad = [] { return Error(err::ConversionError, L"Data type conversion error."); };
    auto put = [&](std::uint64_t bits, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) out.push_back(std::uint8_t(bits >> (8 * i)));
    };
    long long i;
    double d;
    switch (c.type) {
    case type::Byte:
        if (!ParseInteger(v, 0, 255, i)) throw bad();
        put(std::uint64_t(i), 1);
        return out;
    case type::Integer:
        if (!ParseInteger(v, -32768, 32767, i)) throw bad();
        put(std::uint64_t(i), 2);
        return out;
    case type::Long:
        if (!ParseInteger(v, -2147483648LL, 2147483647LL, i)) throw bad();
        put(std::uint64_t(i), 4);
        return out;
    case type::Currency:
        if (!ParseReal(v, d) || std::fabs(d) > 9.2e14) throw bad();
        put(std::uint64_t(std::llround(d * 10000.0)), 8);
        return out;
    case type::Single: {
        if (!ParseReal(v, d) || std::fabs(d) > 3.4e38) throw bad();
        float f = float(d);
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put(bits, 4);
        return out;
    }
    case type::Double:
    case type::DateTime: {
        if (!(c.type == type::DateTime && ParseDate(v, d)) && !ParseReal(v, d)) throw bad();
        std::uint64_t bits;
        std::memcpy(&bits, &d, 8);
        put(bits, 8);
        return out;
    }
    case type::Text:
        if (v.size() > c.length / 2u)
            throw Error(err::FieldTooSmall,
                        L"The field is too small to accept the amount of data you attempted to add.  "
                        L"Try inserting or pasting less data.");
        return EncodeText(v, (c.extraFlags & 0x01) != 0);
    case type::Memo: {
        std::vector<std::uint8_t> text = EncodeText(v, (c.extraFlags & 0x01) != 0 && v.size() <= 1024);
        put(0x80000000u | std::uint32_t(text.size()), 4);
        put(0, 8);
        out.insert(out.end(), text.begin(), text.end());
        return out;
    }
    default:
        throw bad();  // binary, OLE, GUID and numeric values are not written
    }
}

}  // namespace jet
