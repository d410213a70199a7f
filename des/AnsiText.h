#pragma once
// Text <-> bytes through the ANSI code page of the system the tool is made for
// (Simplified Chinese, code page 936), the same on every machine so that keys
// and cipher texts do not depend on the locale a program happens to run in.
// Characters the code page lacks become "?", as the system's own conversion does.
#include <string>
#include <string_view>

namespace des {

std::string ToAnsiBytes(std::wstring_view text);
std::wstring FromAnsiBytes(std::string_view bytes);

}  // namespace des
