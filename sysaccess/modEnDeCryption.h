#pragma once
// The field cipher of the maker's knowledge file: characters are moved within
// blocks as long as the key (a text of decimal digits), never changed.
// Portable: no <windows.h>.
#include <string>

namespace modEnDeCryption {

extern std::wstring g_cipherKey;  // the 8-digit key, set at start-up

// Pads with spaces to a whole number of blocks.  Raises vb::Error 13 for a key
// character that is not a digit and 11 for an empty key.
std::wstring Encrypt(const std::wstring& text, const std::wstring& key);
// Keeps the padding (callers trim it).  Raises 13 for a bad key character,
// 9 for a text whose length is not a whole number of blocks, 11 for an empty key.
std::wstring Decrypt(const std::wstring& text, const std::wstring& key);

}  // namespace modEnDeCryption
