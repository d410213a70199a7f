#include "platform/jet/tests/JetTestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

namespace jettest {

const wchar_t* const kSamples[5] = {L"V2000_no-password.mdb", L"V2000_with-password.mdb", L"delTestV2000.mdb",
                                    L"empty-V2000.mdb", L"test2V2000.mdb"};

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            (L"morvix-jet-" + std::to_wstring(stamp) + L"-" + std::to_wstring(counter++));
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path Sample(const std::wstring& name) { return std::filesystem::path(MORVIX_JET_SAMPLES) / name; }

std::wstring CopySample(const std::wstring& name, const TempFolder& into) {
    std::wstring target = into.File(name);
    WriteAll(target, ReadAll(Sample(name).wstring()));
    return target;
}

std::wstring SamplePassword(const std::wstring& name) {
    return name == L"V2000_with-password.mdb" ? L"password" : L"";
}

std::vector<std::uint8_t> ReadAll(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool FaultyFile::ShouldFail() {
    long n = writes++;
    if (onlyOnce_) return n == failAfter_;
    return n >= failAfter_;
}

void FaultyFile::Write(std::uint64_t offset, const void* buffer, std::size_t n) {
    if (ShouldFail()) {
        failed = true;
        if (landBytes_ > 0) inner_->Write(offset, buffer, std::min(n, landBytes_));
        throw jet::Error(error_, L"injected write failure");
    }
    inner_->Write(offset, buffer, n);
}

void FaultyFile::Truncate(std::uint64_t size) {
    // A full disk still lets a file shrink; a broken one may not.
    if (error_ != 3026 && !onlyOnce_ && writes > failAfter_) throw jet::Error(error_, L"injected failure");
    inner_->Truncate(size);
}

std::wstring WideName(int i) {
    std::wstring n = std::to_wstring(i);
    return n + std::wstring(255 - n.size(), L'中');
}

void AppendWideRows(jet::Table& table, int count) {
    std::wstring wide(255, L'中');
    for (int i = 0; i < count; ++i) table.Append({WideName(i), wide, wide});
}

std::vector<std::vector<std::wstring>> Dump(jet::Table& table) {
    std::vector<std::vector<std::wstring>> out;
    for (auto id : table.AllRows()) {
        std::vector<std::wstring> row;
        for (const auto& v : table.Row(id)) row.push_back(v ? *v : L"\x01");
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace jettest
