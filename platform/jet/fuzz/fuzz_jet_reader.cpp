// libFuzzer target: the Jet reader and writer on any file.  Opening, listing,
// reading every row of every table, looking a value up and appending a row
// must end in success or a jet::Error; anything else (a crash, a sanitizer
// report, another exception) is a finding.
//
// The fuzzer's bytes are the file as the engine sees it after decoding: the
// header's coded region in plain, and every page in plain.  The target codes
// them as a real file is coded (the region with the fixed header key, the
// pages with the database key when it is not 0) and opens the result with
// the password the header holds.  Mutations therefore change database keys,
// passwords, dates and page contents directly, instead of turning coded bytes
// into noise that the password check or the page coding would refuse.  The
// seeds (fuzz/seeds) are the files of fuzz/corpus in that plain form.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/jet/Jet.h"
#include "platform/jet/Pager.h"

namespace {

constexpr std::size_t kRegion = 0x18, kRegionSize = 128, kKeyAt = 0x3E, kPasswordAt = 0x42, kDateAt = 0x72;

// The password of a plain header, as the engine will decode it.
std::wstring StoredPassword(const std::vector<std::uint8_t>& file) {
    double date;
    std::memcpy(&date, file.data() + kDateAt, 8);
    std::int64_t days = 0;
    if (std::isfinite(date) && date > -2147483648.0 && date < 2147483647.0) days = std::int64_t(std::floor(date));
    std::uint8_t mask[4];
    jet::Put32(mask, std::uint32_t(days));
    std::wstring password;
    for (std::size_t i = 0; i + 1 < 40; i += 2) {
        wchar_t c = wchar_t((file[kPasswordAt + i] ^ mask[i % 4]) | (file[kPasswordAt + i + 1] ^ mask[(i + 1) % 4]) << 8);
        if (c == 0) break;
        password.push_back(c);
    }
    return password;
}

void Code(std::vector<std::uint8_t>& file) {
    static const std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    const std::uint32_t key = jet::Get32(file.data() + kKeyAt);
    jet::Rc4(kHeaderKey, 4, file.data() + kRegion, kRegionSize);
    if (key == 0) return;
    for (std::size_t n = 1; (n + 1) * jet::kPageSize <= file.size(); ++n) {
        std::uint8_t k[4];
        jet::Put32(k, key ^ std::uint32_t(n));
        jet::Rc4(k, 4, file.data() + n * jet::kPageSize, jet::kPageSize);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    jet::OpenOptions options;
    bool wrongPassword = false;
    std::wstring stored;
    if (size >= kRegion + kRegionSize) {
        stored = StoredPassword(bytes);
        // One input in 64 tries a wrong password, which must never open.
        wrongPassword = (data[size - 1] & 0x3F) == 0x3F;
        options.password = wrongPassword ? stored + L"x" : stored;
        Code(bytes);
    }
    std::unique_ptr<jet::Database> db;
    try {
        db = jet::Database::Open(std::make_unique<jet::MemoryFile>(std::move(bytes)), options);
    } catch (const jet::Error&) {
        return 0;
    }
    if (wrongPassword && !stored.empty()) std::abort();
    std::vector<std::wstring> names;
    try {
        names = db->TableNames(true);
    } catch (const jet::Error&) {
        return 0;
    }
    for (const auto& name : names) {
        try {
            jet::Table& table = db->OpenTable(name);
            for (auto id : table.AllRows()) (void)table.Row(id);
            if (!table.Columns().empty()) (void)table.FindEqual(0, L"Explorer.EXE");
            std::vector<jet::Value> row(table.Columns().size());
            for (std::size_t c = 0; c < row.size(); ++c)
                if (table.Columns()[c].type == 0x0A) row[c] = L"fuzz";
            auto added = table.Append(row);
            table.Delete(added);
            (void)table.AllRows();
        } catch (const jet::Error&) {
        }
    }
    return 0;
}
