// Files the engine creates, and the writes the knowledge files need.
#include <gtest/gtest.h>

#include "platform/jet/tests/JetTestSupport.h"

using namespace jettest;

namespace {

std::unique_ptr<jet::Database> Reopen(const std::wstring& path, const std::wstring& password = L"") {
    jet::OpenOptions o;
    o.exclusive = true;
    o.password = password;
    return jet::Database::Open(path, o);
}

std::vector<std::wstring> Names(jet::Table& t, const std::vector<jet::Table::RowId>& ids) {
    std::vector<std::wstring> out;
    for (auto id : ids) out.push_back(*t.Row(id)[0]);
    return out;
}

}  // namespace

TEST(JetWriter, CreatedFileReopensWithItsTablesRowsAndPassword) {
    TempFolder dir;
    std::wstring path = dir.File(L"db.mdb");
    {
        auto db = jet::Database::Create(path, L"tqvnal527184wodrk");
        auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
        t.Append({L"explorer.exe", L"Windows 资源管理器", L"N"});
        t.Append({L"o'neil.exe", L"Ünïcödé ∑ and \"quotes\"", L"Y"});
        t.Append({L"nodesc.exe", std::nullopt, std::nullopt});
        db->CreateTable(L"Version", {{L"Version", 50}}).Append({L"2008-05-09"});
    }
    EXPECT_EQ(ErrorOf([&] { Reopen(path); }), jet::err::BadPassword);
    EXPECT_EQ(ErrorOf([&] { Reopen(path, L"TQVNAL527184WODRK"); }), jet::err::BadPassword);
    auto db = Reopen(path, L"tqvnal527184wodrk");
    EXPECT_EQ(db->StoredPassword(), L"tqvnal527184wodrk");
    EXPECT_EQ(db->TableNames(), (std::vector<std::wstring>{L"Process", L"Version"}));
    auto& t = db->OpenTable(L"PROCESS");
    EXPECT_FALSE(t.HasIndexes());
    EXPECT_EQ(Dump(t), (std::vector<std::vector<std::wstring>>{{L"explorer.exe", L"Windows 资源管理器", L"N"},
                                                               {L"o'neil.exe", L"Ünïcödé ∑ and \"quotes\"", L"Y"},
                                                               {L"nodesc.exe", L"\x01", L"\x01"}}));
    EXPECT_EQ(Dump(db->OpenTable(L"Version")), (std::vector<std::vector<std::wstring>>{{L"2008-05-09"}}));
}

TEST(JetWriter, CreateRefusesAnExistingFileAndBadDefinitions) {
    TempFolder dir;
    std::wstring path = CopySample(L"empty-V2000.mdb", dir);
    auto before = ReadAll(path);
    EXPECT_EQ(ErrorOf([&] { jet::Database::Create(path); }), jet::err::DatabaseExists);
    EXPECT_EQ(ReadAll(path), before);
    auto db = jet::Database::Create(dir.File(L"new.mdb"));
    db->CreateTable(L"Process", {{L"ProcessName"}});
    EXPECT_EQ(ErrorOf([&] { db->CreateTable(L"process", {{L"X"}}); }), 3010);
    EXPECT_EQ(ErrorOf([&] { db->CreateTable(L"Two", {{L"A"}, {L"a"}}); }), 3191);
    EXPECT_EQ(ErrorOf([&] { jet::Database::Create(dir.File(L"p.mdb"), std::wstring(21, L'x')); }),
              jet::err::BadPassword);
}

TEST(JetWriter, LookupFoldsCaseAndFollowsEveryWrite) {
    TempFolder dir;
    auto db = jet::Database::Create(dir.File(L"u.mdb"));
    auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus"}});
    auto a = t.Append({L"Explorer.EXE", L"shell", L"N"});
    t.Append({L"svchost.exe", L"host", L"N"});
    EXPECT_EQ(t.FindEqual(0, L"explorer.exe"), (std::vector<jet::Table::RowId>{a}));
    EXPECT_EQ(t.FindEqual(0, L"EXPLORER.exe"), (std::vector<jet::Table::RowId>{a}));
    EXPECT_TRUE(t.FindEqual(0, L"explorer.exe ").empty());
    EXPECT_TRUE(t.FindEqual(2, L"y").empty());
    auto b = t.Append({L"explorer.exe", L"second", L"y"});  // the index was built: it follows appends
    EXPECT_EQ(Names(t, t.FindEqual(0, L"EXPLORER.EXE")), (std::vector<std::wstring>{L"Explorer.EXE", L"explorer.exe"}));
    EXPECT_EQ(t.FindEqual(2, L"Y"), (std::vector<jet::Table::RowId>{b}));
    t.Delete(a);
    EXPECT_EQ(t.FindEqual(0, L"explorer.exe"), (std::vector<jet::Table::RowId>{b}));
    auto c = t.Replace(b, {L"EXPLORER.EXE", L"third", L"N"});
    EXPECT_EQ(t.FindEqual(0, L"explorer.exe"), (std::vector<jet::Table::RowId>{c}));
    EXPECT_TRUE(t.FindEqual(2, L"y").empty());
    EXPECT_EQ(ErrorOf([&] { t.Row(b); }), jet::err::RecordDeleted);
    EXPECT_EQ(ErrorOf([&] { t.Delete(b); }), jet::err::RecordDeleted);
    EXPECT_EQ(t.LiveRowCount(), 2u);
    // Greek, Cyrillic and full-width letters fold too; CJK is left alone.
    t.Append({L"ΑΒΓ-ДЖ-ＡＢ-中", L"", L"N"});
    EXPECT_EQ(t.FindEqual(0, L"αβγ-дж-ａｂ-中").size(), 1u);
}

TEST(JetWriter, RefusesValuesThatDoNotFitAndKeepsTheFile) {
    TempFolder dir;
    std::wstring path = dir.File(L"u.mdb");
    {
        auto db = jet::Database::Create(path);
        auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Virus", 1}});
        t.Append({L"a.exe", L"N"});
        auto before = ReadAll(path);
        EXPECT_EQ(ErrorOf([&] { t.Append({std::wstring(256, L'x'), L"N"}); }), jet::err::FieldTooSmall);
        EXPECT_EQ(ErrorOf([&] { t.Append({L"b.exe", L"NN"}); }), jet::err::FieldTooSmall);
        EXPECT_EQ(ErrorOf([&] { t.Append({L"\xFEFF" L"bom", L"N"}); }), jet::err::ConversionError);
        EXPECT_EQ(ErrorOf([&] { t.Append({L"too few"}); }), jet::err::ItemNotFound);
        t.Append({std::wstring(255, L'字'), L"Y"});  // exactly the limit
        EXPECT_EQ(t.LiveRowCount(), 2u);
    }
    auto db = Reopen(path);
    EXPECT_EQ(db->OpenTable(L"Process").LiveRowCount(), 2u);
}

TEST(JetWriter, ManyRowsPastOneUsageMapReadBackInOrder) {
    TempFolder dir;
    std::wstring path = dir.File(L"big.mdb");
    {
        auto db = jet::Database::Create(path);
        auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus"}});
        AppendWideRows(t, 1200);
        for (int i = 0; i < 1200; i += 7) t.Delete(jet::Table::RowId(i));
        t.Append({L"last.exe", L"", L"N"});
    }
    EXPECT_GT(ReadAll(path).size(), 512u * 4096u);
    auto db = Reopen(path);
    auto& t = db->OpenTable(L"Process");
    auto ids = t.AllRows();
    ASSERT_EQ(ids.size(), 1200u - 172u + 1u);
    EXPECT_EQ(*t.Row(ids[0])[0], WideName(1));
    EXPECT_EQ(*t.Row(ids[ids.size() - 2])[0], WideName(1199));
    EXPECT_EQ(*t.Row(ids.back())[0], L"last.exe");
    EXPECT_EQ(*t.Row(ids[5])[1], std::wstring(255, L'中'));
    EXPECT_EQ(t.FindEqual(0, WideName(700)).size(), 0u);  // 700 = 7 × 100 was deleted
    EXPECT_EQ(t.FindEqual(0, WideName(701)).size(), 1u);
    // The converted map keeps growing after a reopen.
    t.Append({L"after-reopen.exe", L"", L"N"});
    EXPECT_EQ(t.FindEqual(0, L"AFTER-REOPEN.EXE").size(), 1u);
    db.reset();
    EXPECT_EQ(Reopen(path)->OpenTable(L"Process").LiveRowCount(), 1030u);
}

TEST(JetWriter, AppendsToAnAccessMadeTableWithoutIndexes) {
    TempFolder dir;
    std::wstring path = CopySample(L"delTestV2000.mdb", dir);
    {
        auto db = Reopen(path);
        auto& t = db->OpenTable(L"Table");
        t.Delete(t.AllRows()[0]);
        t.Append({L"new'one", L"追加"});
        EXPECT_EQ(ErrorOf([&] { t.Append({std::wstring(51, L'x'), L""}); }), jet::err::FieldTooSmall);
    }
    auto db = Reopen(path);
    EXPECT_EQ(Dump(db->OpenTable(L"Table")),
              (std::vector<std::vector<std::wstring>>{{L"v", L"u"}, {L"new'one", L"追加"}}));
}
