#include "sysaccess/modEnDeCryption.h"

#include <vector>

#include "platform/vb/VbError.h"

namespace modEnDeCryption {

std::wstring g_cipherKey;

namespace {

// order[c] (0-based here): 1 + the positions with a smaller digit + the
// earlier positions with the same digit; a permutation of 1..k.
std::vector<std::size_t> OrderTable(const std::wstring& key) {
    std::vector<int> digits;
    digits.reserve(key.size());
    for (wchar_t c : key) {
        if (c < L'0' || c > L'9') throw vb::Error(13);
        digits.push_back(c - L'0');
    }
    std::vector<std::size_t> order(digits.size());
    for (std::size_t c = 0; c < digits.size(); ++c) {
        std::size_t rank = 0;
        for (std::size_t i = 0; i < digits.size(); ++i)
            if (digits[i] < digits[c] || (digits[i] == digits[c] && i < c)) ++rank;
        order[c] = rank;
    }
    return order;
}

}  // namespace

std::wstring Encrypt(const std::wstring& text, const std::wstring& key) {
    std::vector<std::size_t> order = OrderTable(key);
    std::size_t k = order.size();
    if (k == 0) throw vb::Error(11);
    std::size_t n = text.size() % k == 0 ? text.size() : (text.size() / k + 1) * k;
    std::wstring source = text;
    source.resize(n, L' ');
    std::wstring out(n, L' ');
    for (std::size_t b = 0; b < n; b += k)
        for (std::size_t j = 0; j < k; ++j) out[b + j] = source[b + order[j]];
    return out;
}

std::wstring Decrypt(const std::wstring& text, const std::wstring& key) {
    std::vector<std::size_t> order = OrderTable(key);
    std::size_t k = order.size();
    if (k == 0) throw vb::Error(11);
    if (text.size() % k != 0) throw vb::Error(9);
    std::wstring out(text.size(), L' ');
    for (std::size_t b = 0; b < text.size(); b += k)
        for (std::size_t j = 0; j < k; ++j) out[b + order[j]] = text[b + j];
    return out;
}

}  // namespace modEnDeCryption
