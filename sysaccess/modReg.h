#pragma once
// Writing and deleting one registry value, creating its key when needed.
#include <windows.h>

#include <string>
#include <variant>
#include <vector>

namespace modReg {

// The value to write: text, a number, or an array of numbers (REG_BINARY).
using RegValue = std::variant<std::wstring, double, std::vector<double>>;

// True exactly when the value was written.  Types: 1 REG_SZ, 2 REG_EXPAND_SZ,
// 3 REG_BINARY (array), 4 REG_DWORD (0..4294967295), 7 REG_MULTI_SZ (one
// string).  Any other type writes nothing, creates no key, and gives False.
// A value that does not convert to what the type needs raises error 13.
bool SetRegistryValue(HKEY hKey, const std::wstring& subKey, const std::wstring& valueName,
                      const RegValue& value, long valueType);
// True when the value existed and was deleted.
bool DeleteRegistryValue(HKEY hKey, const std::wstring& subKey, const std::wstring& valueName);
// Eight upper-case hexadecimal digits of Int(x), leading zeros kept.
std::wstring DoubleToHex8(double x);

}  // namespace modReg
