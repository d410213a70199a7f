// DBEngine / Database / Recordset as the program uses them: opening with a
// password and exclusively, the query forms it sends, reading, adding,
// editing and deleting records, and DAO's error numbers.
#include <gtest/gtest.h>

#include "platform/dao/dao.h"
#include "platform/jet/tests/JetTestSupport.h"

using jettest::ErrorOf;
using jettest::TempFolder;

namespace {

const wchar_t kPwd[] = L"tqvnal527184wodrk";

// A knowledge file like the maker's, with a few plain records.
std::wstring MakeKnowledgeFile(const TempFolder& dir, const std::wstring& password = kPwd) {
    std::wstring path = dir.File(L"kb.mdb");
    auto db = jet::Database::Create(path, password);
    auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
    t.Append({L"explorer.exe", L"Windows 资源管理器", L"N"});
    t.Append({L"o'neil.exe", L"quote", L"Y"});
    t.Append({L"Explorer.EXE", L"second spelling", L"y"});
    t.Append({L"nodesc.exe", std::nullopt, std::nullopt});
    db->CreateTable(L"Version", {{L"Version", 50}}).Append({L"2008-05-09"});
    return path;
}

dao::DatabasePtr Open(const std::wstring& path, const std::wstring& connect = std::wstring(L";pwd=") + kPwd) {
    return dao::DBEngine::OpenDatabase(path, true, false, connect);
}

std::vector<std::wstring> Column(const dao::RecordsetPtr& rs, const wchar_t* field) {
    std::vector<std::wstring> out;
    if (rs->EOF_()) return out;
    for (rs->MoveFirst(); !rs->EOF_(); rs->MoveNext()) out.push_back(rs->Fields(field).value_or(L"(null)"));
    return out;
}

}  // namespace

TEST(DaoOpen, PasswordFromTheConnectStringIsChecked) {
    TempFolder dir;
    std::wstring path = MakeKnowledgeFile(dir);
    for (const std::wstring& connect : {std::wstring(L";pwd=") + kPwd, std::wstring(L";PWD=") + kPwd,
                                        std::wstring(L"MS Access;pwd=") + kPwd + L";"}) {
        EXPECT_EQ(ErrorOf<dao::Error>([&] { Open(path, connect)->Close(); }), 0) << jet::ToUtf8(connect);
    }
    EXPECT_EQ(ErrorOf<dao::Error>([&] { Open(path, L";pwd=wrong"); }), 3031);
    EXPECT_EQ(ErrorOf<dao::Error>([&] { Open(path, L";pwd=TQVNAL527184WODRK"); }), 3031);
    EXPECT_EQ(ErrorOf<dao::Error>([&] { Open(path, L""); }), 3031);
    try {
        Open(path, L"");
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.Description(), L"Not a valid password.");
    }
}

TEST(DaoOpen, MissingAndHeldFilesFailWithDaoNumbers) {
    TempFolder dir;
    std::wstring path = MakeKnowledgeFile(dir);
    EXPECT_EQ(ErrorOf<dao::Error>([&] { Open(dir.File(L"none.mdb")); }), 3024);
    auto first = Open(path);
    EXPECT_EQ(ErrorOf<dao::Error>([&] { Open(path); }), 3045);
    EXPECT_EQ(ErrorOf<dao::Error>([&] { dao::DBEngine::OpenDatabase(path, false, true, std::wstring(L";pwd=") + kPwd); }), 3045);
    first->Close();  // releases the file at once
    EXPECT_EQ(ErrorOf<dao::Error>([&] { Open(path); }), 0);
}

TEST(DaoQuery, TheProgramsQueryFormsFindWhatJetWouldFind) {
    TempFolder dir;
    auto db = Open(MakeKnowledgeFile(dir));
    auto name = [&](const std::wstring& n) {
        return db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = " + dao::SqlQuote(n));
    };
    // Text comparison ignores case, as Jet's does.
    EXPECT_EQ(Column(name(L"EXPLORER.exe"), L"Description"),
              (std::vector<std::wstring>{L"Windows 资源管理器", L"second spelling"}));
    EXPECT_EQ(name(L"EXPLORER.exe")->RecordCount(), 2);
    EXPECT_EQ(Column(name(L"o'neil.exe"), L"Virus"), (std::vector<std::wstring>{L"Y"}));
    EXPECT_EQ(name(L"oneil.exe")->RecordCount(), 0);
    EXPECT_EQ(name(L"explorer.exe ")->RecordCount(), 0);
    EXPECT_EQ(name(L"")->RecordCount(), 0);
    // The danger query: the second condition ignores case too.
    auto danger = db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = 'explorer.exe' AND Virus = 'Y'");
    EXPECT_EQ(Column(danger, L"ProcessName"), (std::vector<std::wstring>{L"Explorer.EXE"}));
    EXPECT_EQ(Column(db->OpenRecordset(L"SELECT * FROM Process"), L"ProcessName"),
              (std::vector<std::wstring>{L"explorer.exe", L"o'neil.exe", L"Explorer.EXE", L"nodesc.exe"}));
    EXPECT_EQ(Column(db->OpenRecordset(L"SELECT * FROM Version"), L"Version"), (std::vector<std::wstring>{L"2008-05-09"}));
    // Spacing, keyword case, brackets and a closing semicolon are accepted.
    EXPECT_EQ(db->OpenRecordset(L"  select *  from [Process]  where [ProcessName]='NODESC.EXE' ; ")->RecordCount(), 1);
    // A Null field is Null, not empty.
    auto nodesc = name(L"nodesc.exe");
    EXPECT_FALSE(nodesc->Fields(L"Description").has_value());
    EXPECT_EQ(nodesc->Fields(L"processname"), L"nodesc.exe");
}

TEST(DaoQuery, AnythingElseIsAClearErrorNeverAWrongAnswer) {
    TempFolder dir;
    auto db = Open(MakeKnowledgeFile(dir));
    std::vector<std::pair<std::wstring, long>> cases = {
        {L"", 3129},
        {L"PROCESS", 3129},
        {L"DELETE FROM Process", 3129},
        {L"SELECT ProcessName FROM Process", 3141},
        {L"SELECT * Process", 3141},
        {L"SELECT * FROM", 3131},
        {L"SELECT * FROM Process ORDER BY ProcessName", 3131},
        {L"SELECT * FROM Process, Version", 3131},
        {L"SELECT * FROM Process WHERE", 3075},
        {L"SELECT * FROM Process WHERE ProcessName = 'a", 3075},
        {L"SELECT * FROM Process WHERE ProcessName = 'a''", 3075},
        {L"SELECT * FROM Process WHERE ProcessName = a", 3075},
        {L"SELECT * FROM Process WHERE ProcessName = \"a\"", 3075},
        {L"SELECT * FROM Process WHERE ProcessName LIKE 'a'", 3075},
        {L"SELECT * FROM Process WHERE ProcessName <> 'a'", 3075},
        {L"SELECT * FROM Process WHERE ProcessName = 'a' OR Virus = 'Y'", 3075},
        {L"SELECT * FROM Process WHERE ProcessName = 'a' AND Virus = 'Y' AND Description = 'x'", 3075},
        {L"SELECT * FROM Process WHERE ProcessName = 'a' junk", 3075},
        {L"SELECT * FROM Process WHERE Nope = 'a'", 3061},
        {L"SELECT * FROM Nope", 3078},
    };
    for (const auto& [sql, number] : cases) EXPECT_EQ(ErrorOf<dao::Error>([&] { db->OpenRecordset(sql); }), number) << jet::ToUtf8(sql);
    try {
        db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = 'a");
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.Description(), L"Syntax error in string in query expression 'ProcessName = 'a'.");
    }
}

TEST(DaoRecordset, NavigationAndCurrentRecordErrors) {
    TempFolder dir;
    auto db = Open(MakeKnowledgeFile(dir));
    auto none = db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = 'missing.exe'");
    EXPECT_TRUE(none->EOF_());
    EXPECT_TRUE(none->BOF());
    EXPECT_EQ(none->RecordCount(), 0);
    EXPECT_EQ(ErrorOf<dao::Error>([&] { none->MoveFirst(); }), 3021);
    EXPECT_EQ(ErrorOf<dao::Error>([&] { none->MoveNext(); }), 3021);
    EXPECT_EQ(ErrorOf<dao::Error>([&] { none->Fields(L"Virus"); }), 3021);
    auto all = db->OpenRecordset(L"SELECT * FROM Process");
    EXPECT_FALSE(all->EOF_());
    EXPECT_EQ(all->Fields(L"ProcessName"), L"explorer.exe");  // positioned on the first record
    EXPECT_EQ(ErrorOf<dao::Error>([&] { all->Fields(L"Nope"); }), 3265);
    for (int i = 0; i < 4; ++i) all->MoveNext();
    EXPECT_TRUE(all->EOF_());
    EXPECT_EQ(ErrorOf<dao::Error>([&] { all->MoveNext(); }), 3021);
    all->Close();
    EXPECT_EQ(ErrorOf<dao::Error>([&] { all->RecordCount(); }), 3420);
}

TEST(DaoRecordset, AddNewEditDeleteAsTheEditorDoes) {
    TempFolder dir;
    std::wstring path = MakeKnowledgeFile(dir, L"");
    {
        auto db = dao::DBEngine::OpenDatabase(path, true, false, L"");
        // Add: the table query, AddNew, three fields, Update.
        auto rs = db->OpenRecordset(L"SELECT * FROM Process");
        EXPECT_EQ(ErrorOf<dao::Error>([&] { rs->SetField(L"Virus", L"N"); }), 3020);
        EXPECT_EQ(ErrorOf<dao::Error>([&] { rs->Update(); }), 3020);
        rs->AddNew();
        rs->SetField(L"ProcessName", L"新进程.exe");
        rs->SetField(L"Description", L"用户添加的'描述'");
        rs->SetField(L"Virus", L"Y");
        EXPECT_EQ(rs->Fields(L"Virus"), L"Y");  // the record being added
        EXPECT_EQ(ErrorOf<dao::Error>([&] { rs->SetField(L"Nope", L"x"); }), 3265);
        rs->Update();
        EXPECT_EQ(rs->RecordCount(), 5);
        rs->AddNew();
        rs->SetField(L"ProcessName", L"cancelled.exe");
        rs->CancelUpdate();
        rs->AddNew();
        rs->SetField(L"ProcessName", std::wstring(256, L'x'));
        EXPECT_EQ(ErrorOf<dao::Error>([&] { rs->Update(); }), 3163);  // too long: nothing written
        rs->CancelUpdate();
        rs.reset();

        auto added = db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = '新进程.EXE'");
        ASSERT_EQ(added->RecordCount(), 1);
        EXPECT_EQ(added->Fields(L"Description"), L"用户添加的'描述'");

        // Edit as the editor does it: delete the user's record, append the new one.
        auto old = db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = 'o''neil.exe'");
        old->Delete();
        EXPECT_EQ(old->RecordCount(), 0);
        EXPECT_EQ(ErrorOf<dao::Error>([&] { old->Fields(L"Virus"); }), 3167);
        EXPECT_EQ(ErrorOf<dao::Error>([&] { old->Delete(); }), 3167);
        old->MoveNext();
        EXPECT_TRUE(old->EOF_());

        // Recordset.Edit changes the record in place.
        auto edit = db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = 'nodesc.exe'");
        edit->Edit();
        edit->SetField(L"Description", L"now described");
        edit->Update();
        EXPECT_EQ(edit->Fields(L"Description"), L"now described");
        EXPECT_EQ(db->OpenRecordset(L"SELECT * FROM Process WHERE Description = 'NOW DESCRIBED'")->RecordCount(), 1);
        db->Close();
        EXPECT_EQ(ErrorOf<dao::Error>([&] { edit->MoveFirst(); }), 3420);
        EXPECT_EQ(ErrorOf<dao::Error>([&] { db->OpenRecordset(L"SELECT * FROM Process"); }), 3420);
    }
    auto db = dao::DBEngine::OpenDatabase(path, true, true, L"");
    EXPECT_EQ(Column(db->OpenRecordset(L"SELECT * FROM Process"), L"ProcessName"),
              (std::vector<std::wstring>{L"explorer.exe", L"Explorer.EXE", L"新进程.exe", L"nodesc.exe"}));
    // A read-only connection refuses to write.
    EXPECT_EQ(ErrorOf<dao::Error>([&] { db->OpenRecordset(L"SELECT * FROM Process")->AddNew(); }), 3027);
}

TEST(DaoRecordset, AnAccessTableWithAnIndexIsNotWritten) {
    TempFolder dir;
    std::wstring path = jettest::CopySample(L"V2000_with-password.mdb", dir);
    auto before = jettest::ReadAll(path);
    {
        auto db = dao::DBEngine::OpenDatabase(path, true, false, L";pwd=password");
        EXPECT_EQ(db->TableNames(), (std::vector<std::wstring>{L"Table1"}));
        auto rs = db->OpenRecordset(L"SELECT * FROM Table1 WHERE Data = 'two'");
        EXPECT_EQ(rs->Fields(L"ID"), L"2");
        EXPECT_EQ(ErrorOf<dao::Error>([&] { rs->AddNew(); }), 3027);
        EXPECT_EQ(ErrorOf<dao::Error>([&] { rs->Edit(); }), 3027);
        EXPECT_EQ(ErrorOf<dao::Error>([&] { rs->Delete(); }), 3027);
        EXPECT_EQ(ErrorOf<dao::Error>([&] { db->OpenRecordset(L"SELECT * FROM Table1 WHERE ID = '2'"); }), 3464);
    }
    EXPECT_EQ(jettest::ReadAll(path), before);
}

TEST(DaoRecordset, AfterAFailedEditThatPartlyLanded) {
    TempFolder dir;
    std::wstring path = dir.File(L"full.mdb");
    // Two rows to a page: an edited first row goes on the second page, written before its deletion.
    jettest::AppendWideRows(jet::Database::Create(path)->CreateTable(L"Process", {{L"A"}, {L"B"}, {L"C"}}), 3);
    const auto seed = jettest::ReadAll(path);
    for (bool driveGone : {false, true}) {
        jettest::WriteAll(path, seed);
        auto inner = jet::OpenFile(path, jet::FileAccess::ReadWrite, true);
        auto file = std::make_unique<jettest::FaultyFile>(std::move(inner), 2, false);  // after the count and new row
        file->goneAfterFault = driveGone;
        auto db = dao::DBEngine::OpenDatabase(std::move(file));
        auto rs = db->OpenRecordset(L"SELECT * FROM Process");
        rs->Edit();
        rs->SetField(L"B", std::wstring(255, L'新'));
        EXPECT_EQ(ErrorOf<dao::Error>([&] { rs->Update(); }), 3026);
        if (driveGone) {
            for (const auto& read : std::vector<std::function<void()>>{[&] { rs->RecordCount(); },
                     [&] { rs->MoveNext(); }, [&] { rs->Fields(L"A"); },
                     [&] { db->OpenRecordset(L"SELECT * FROM Process"); }})
                EXPECT_EQ(ErrorOf<dao::Error>(read), 3043);
            continue;
        }
        long count = rs->RecordCount();  // the old row and the new one
        db->Close();
        EXPECT_EQ(count, Open(path, L"")->OpenRecordset(L"SELECT * FROM Process")->RecordCount());
    }
}
