#pragma once
// File names are UTF-16 text in both builds (std::wstring holds UTF-16 code
// units even where wchar_t is wider); the host's file system wants UTF-8.
#include <filesystem>
#include <string>

namespace des {

std::filesystem::path ToPath(const std::wstring& name);

}  // namespace des
