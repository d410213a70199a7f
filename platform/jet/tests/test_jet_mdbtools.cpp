// The engine against an independent reader: Debian's mdbtools.  Every text and
// memo column of every table of the Access-made samples must read the same,
// and files the engine writes must read back through mdb-export unchanged.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "platform/jet/tests/JetTestSupport.h"

using namespace jettest;

namespace {

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[65536];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    pclose(pipe);
    return out;
}

std::string Shell(const std::wstring& s) {
    std::string u = jet::ToUtf8(s), out = "'";
    for (char c : u) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i)
        if (i == s.size() || s[i] == sep) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    return parts;
}

// mdb-export's view of a table: column names, then rows ("\x02" marks Null).
struct Export {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
};

Export MdbExport(const std::wstring& file, const std::wstring& table) {
    std::string text = RunCommand("mdb-export -Q -b strip -d '\x1f' -R '\x1e' -0 '\x02' " + Shell(file) + " " +
                           Shell(table) + " 2>/dev/null");
    Export e;
    auto lines = Split(text, '\x1e');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.empty()) return e;
    e.columns = Split(lines[0], '\x1f');
    for (std::size_t i = 1; i < lines.size(); ++i) e.rows.push_back(Split(lines[i], '\x1f'));
    return e;
}

std::set<std::string> MdbTables(const std::wstring& file) {
    std::set<std::string> names;
    for (auto& n : Split(RunCommand("mdb-tables -S -1 " + Shell(file) + " 2>/dev/null"), '\n'))
        if (!n.empty()) names.insert(n);
    return names;
}

// Compares every text and memo column of `table` with mdb-export's rows.
void ExpectSameAsMdbExport(const std::wstring& file, jet::Table& table, int* comparedValues = nullptr) {
    Export e = MdbExport(file, table.Name());
    SCOPED_TRACE(jet::ToUtf8(table.Name()));
    auto ids = table.AllRows();
    ASSERT_EQ(e.rows.size(), ids.size());
    std::map<std::string, std::size_t> position;
    for (std::size_t i = 0; i < e.columns.size(); ++i) position[e.columns[i]] = i;
    for (std::size_t c = 0; c < table.Columns().size(); ++c) {
        const jet::Column& column = table.Columns()[c];
        if (!column.IsText()) continue;
        auto at = position.find(jet::ToUtf8(column.name));
        ASSERT_NE(at, position.end()) << jet::ToUtf8(column.name);
        for (std::size_t r = 0; r < ids.size(); ++r) {
            ASSERT_LT(at->second, e.rows[r].size());
            const std::string& theirs = e.rows[r][at->second];
            const jet::Value& ours = table.Row(ids[r])[c];
            // mdbtools shows an empty text as Null; the engine keeps them apart.
            if (theirs == "\x02")
                EXPECT_TRUE(!ours || ours->empty()) << jet::ToUtf8(column.name) << " row " << r;
            else
                EXPECT_EQ(ours ? jet::ToUtf8(*ours) : "(null)", theirs) << jet::ToUtf8(column.name) << " row " << r;
            if (comparedValues) ++*comparedValues;
        }
    }
}

}  // namespace

TEST(JetAgainstMdbtools, EverySampleTableReadsAsMdbExportReadsIt) {
    int compared = 0;
    for (const wchar_t* sample : kSamples) {
        std::wstring path = Sample(sample).wstring();
        SCOPED_TRACE(jet::ToUtf8(sample));
        jet::OpenOptions options;
        options.readOnly = true;
        options.password = SamplePassword(sample);
        auto db = jet::Database::Open(path, options);
        auto names = db->TableNames(true);
        std::set<std::string> ours;
        for (auto& n : names) ours.insert(jet::ToUtf8(n));
        EXPECT_EQ(ours, MdbTables(path));
        for (auto& n : names) ExpectSameAsMdbExport(path, db->OpenTable(n), &compared);
    }
    EXPECT_GT(compared, 500);  // the samples hold hundreds of catalog and memo values
}

TEST(JetAgainstMdbtools, WrittenFileReadsBackThroughMdbExport) {
    TempFolder dir;
    std::wstring path = dir.File(L"written.mdb");
    {
        auto db = jet::Database::Create(path, L"tqvnal527184wodrk");
        auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
        t.Append({L"explorer.exe", L"Windows 资源管理器", L"N"});
        t.Append({L"o'neil.exe", L"It's a test: quote ' and \"dq\"", L"Y"});
        auto doomed = t.Append({L"deleted.exe", L"gone", L"N"});
        t.Append({L"病毒.exe", L"木马程序，请结束", L"Y"});
        t.Append({L"nodesc.exe", std::nullopt, std::nullopt});
        t.Append({L"", L"", L""});
        t.Delete(doomed);
        auto& v = db->CreateTable(L"Version", {{L"Version", 50}});
        v.Append({L"2008-05-09"});
    }
    EXPECT_EQ(MdbTables(path), (std::set<std::string>{"MSysObjects", "Process", "Version"}));
    Export e = MdbExport(path, L"Process");
    ASSERT_EQ(e.columns, (std::vector<std::string>{"ProcessName", "Description", "Virus"}));
    std::vector<std::vector<std::string>> expected = {
        {"explorer.exe", "Windows 资源管理器", "N"},
        {"o'neil.exe", "It's a test: quote ' and \"dq\"", "Y"},
        {"病毒.exe", "木马程序，请结束", "Y"},
        {"nodesc.exe", "\x02", "\x02"},
        {"\x02", "\x02", "\x02"},  // empty texts, which mdbtools shows as Null
    };
    EXPECT_EQ(e.rows, expected);
    EXPECT_EQ(MdbExport(path, L"Version").rows, (std::vector<std::vector<std::string>>{{"2008-05-09"}}));
    EXPECT_EQ(RunCommand("mdb-count " + Shell(path) + " Process"), "5\n");
}

TEST(JetAgainstMdbtools, GrowthPastOneUsageMapStillReads) {
    TempFolder dir;
    std::wstring path = dir.File(L"big.mdb");
    std::wstring wide(255, L'中');
    {
        auto db = jet::Database::Create(path);
        AppendWideRows(db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus"}}), 1200);
        auto& t = db->OpenTable(L"Process");
        for (int i = 0; i < 1200; i += 100) t.Delete(jet::Table::RowId(i));
    }
    EXPECT_GT(std::filesystem::file_size(std::filesystem::path(path)), 512u * 4096u);
    Export e = MdbExport(path, L"Process");
    ASSERT_EQ(e.rows.size(), 1188u);
    EXPECT_EQ(e.rows[0][0].substr(0, 2), "1\xE4");  // "1中..."
    EXPECT_EQ(e.rows.back()[0].substr(0, 4), "1199");
    EXPECT_EQ(e.rows.back()[1], jet::ToUtf8(wide));
    jet::OpenOptions ro;
    ro.readOnly = true;
    auto db = jet::Database::Open(path, ro);
    ExpectSameAsMdbExport(path, db->OpenTable(L"Process"));
}

TEST(JetAgainstMdbtools, AppendAndDeleteInAnAccessMadeFile) {
    TempFolder dir;
    std::wstring path = CopySample(L"delTestV2000.mdb", dir);
    {
        jet::OpenOptions rw;
        rw.exclusive = true;
        auto db = jet::Database::Open(path, rw);
        auto& t = db->OpenTable(L"Table");
        ASSERT_FALSE(t.HasIndexes());
        auto first = t.AllRows().front();
        t.Delete(first);
        t.Append({L"new'one", L"追加的记录"});
        for (int i = 0; i < 300; ++i) t.Append({L"row" + std::to_wstring(i), L"值"});
    }
    Export e = MdbExport(path, L"Table");
    ASSERT_EQ(e.rows.size(), 302u);
    EXPECT_EQ(e.rows[0], (std::vector<std::string>{"v", "u"}));
    EXPECT_EQ(e.rows[1], (std::vector<std::string>{"new'one", "追加的记录"}));
    EXPECT_EQ(e.rows.back(), (std::vector<std::string>{"row299", "值"}));
}
