#pragma once
// Inside the engine: one field's bytes to and from its text form.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/jet/Jet.h"

namespace jet {

// Reads a long value (memo or OLE) from its 12-byte row header.
using LongValueReader = std::function<Value(const std::uint8_t*, std::size_t, bool text)>;

Value DecodeField(const Column& column, const std::uint8_t* data, std::size_t n, const LongValueReader& longValue);
// The bytes stored for a value; `present` tells whether the null-mask bit is set.
// Raises 3163 for a text longer than its column and 3421 for a value that
// does not convert to the column's type.
std::vector<std::uint8_t> EncodeField(const Column& column, const Value& value, bool& present);

std::wstring HexText(const std::uint8_t* data, std::size_t n);

// OLE dates (days since 1899-12-30) as "yyyy-mm-dd hh:mm:ss".
std::wstring FormatDate(double oleDate);
bool ParseDate(const std::wstring& text, double& oleDate);
double OleDateNow();

}  // namespace jet
