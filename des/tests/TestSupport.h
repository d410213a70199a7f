#pragma once
// What the DES tests share: random data, fixed header words, real files in a
// fresh temporary folder named with UTF-16 text as the class takes names.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "des/FileName.h"
#include "des/clsDES.h"

namespace des_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Random(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

// Header words for clsDES's seam: a, b, a, b, ...
inline clsDES::RandomWords Words(std::uint32_t a, std::uint32_t b) {
    auto count = std::make_shared<int>(0);
    return [=] { return (*count)++ % 2 == 0 ? a : b; };
}

inline void WriteFile(const std::filesystem::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TempFolder {
public:
    TempFolder() {
        std::random_device rd;
        base_ = std::filesystem::temp_directory_path().wstring() + L"/des_test_" + std::to_wstring(rd()) +
                std::to_wstring(rd());
        std::filesystem::create_directories(des::ToPath(base_));
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(des::ToPath(base_), ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::wstring Name(const std::wstring& name) const { return base_ + L"/" + name; }
    std::filesystem::path Path(const std::wstring& name) const { return des::ToPath(Name(name)); }
    std::size_t Entries() const {
        const std::filesystem::directory_iterator list(des::ToPath(base_));
        return static_cast<std::size_t>(std::distance(begin(list), end(list)));
    }

private:
    std::wstring base_;
};

}  // namespace des_test
