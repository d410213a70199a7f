// libFuzzer target: any bytes as a database file.  Opening, listing, reading
// every row of every table, looking a value up and appending a row must end
// in success or a jet::Error; anything else (a crash, a sanitizer report,
// another exception) is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/jet/Jet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto file = std::make_unique<jet::MemoryFile>(std::vector<std::uint8_t>(data, data + size));
    std::unique_ptr<jet::Database> db;
    try {
        jet::OpenOptions options;
        options.password = L"tqvnal527184wodrk";
        db = jet::Database::Open(std::move(file), options);
    } catch (const jet::Error&) {
        return 0;
    }
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
