#pragma once
// DES as the standard writes it: one byte per bit, each table applied as a
// plain selection.  Slow and obviously faithful: the fast core is checked
// against it.
#include <array>
#include <cstdint>

namespace des_reference {

std::uint64_t Encrypt(const std::array<std::uint8_t, 8>& key, std::uint64_t block);
std::uint64_t Decrypt(const std::array<std::uint8_t, 8>& key, std::uint64_t block);

}  // namespace des_reference
