// Reading what Access wrote, and refusing what is not a Jet 4 file.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "platform/jet/tests/JetTestSupport.h"

using namespace jettest;

namespace {

std::unique_ptr<jet::Database> OpenSample(const std::wstring& name) {
    jet::OpenOptions o;
    o.readOnly = true;
    o.password = SamplePassword(name);
    return jet::Database::Open(Sample(name).wstring(), o);
}

long OpenBytes(std::vector<std::uint8_t> bytes) {
    return ErrorOf([&] {
        jet::OpenOptions o;
        o.readOnly = true;
        jet::Database::Open(std::make_unique<jet::MemoryFile>(std::move(bytes)), o);
    });
}

// Opens and reads everything; returns the first error number, 0 when all read.
long ReadEverything(std::vector<std::uint8_t> bytes, const std::wstring& password) {
    return ErrorOf([&] {
        jet::OpenOptions o;
        o.readOnly = true;
        o.password = password;
        auto db = jet::Database::Open(std::make_unique<jet::MemoryFile>(std::move(bytes)), o);
        for (auto& n : db->TableNames(true)) {
            auto& t = db->OpenTable(n);
            for (auto id : t.AllRows()) (void)t.Row(id);
        }
    });
}

}  // namespace

TEST(JetReader, OpensEverySampleAndListsItsUserTables) {
    std::map<std::wstring, std::vector<std::wstring>> expected = {
        {L"V2000_no-password.mdb", {L"Table1"}},
        {L"V2000_with-password.mdb", {L"Table1"}},
        {L"delTestV2000.mdb", {L"Table"}},
        {L"empty-V2000.mdb", {}},
        {L"test2V2000.mdb", {L"MSP_PROJECTS"}},
    };
    for (const wchar_t* s : kSamples) {
        auto db = OpenSample(s);
        EXPECT_EQ(db->TableNames(), expected[s]) << jet::ToUtf8(s);
        auto all = db->TableNames(true);
        EXPECT_NE(std::find(all.begin(), all.end(), L"MSysObjects"), all.end());
    }
}

TEST(JetReader, ReadsRowsOfEveryColumnKind) {
    auto db = OpenSample(L"V2000_with-password.mdb");
    auto& t = db->OpenTable(L"table1");  // names compare without case
    EXPECT_TRUE(t.HasIndexes());
    EXPECT_EQ(Dump(t), (std::vector<std::vector<std::wstring>>{{L"1", L"One"}, {L"2", L"Two"}, {L"3", L"Three"}}));

    auto del = OpenSample(L"delTestV2000.mdb");
    EXPECT_EQ(Dump(del->OpenTable(L"Table")), (std::vector<std::vector<std::wstring>>{{L"z", L"y"}, {L"v", L"u"}}));

    // Memo values of every storage kind, booleans, numbers and dates read without error.
    auto test2 = OpenSample(L"test2V2000.mdb");
    auto& p = test2->OpenTable(L"MSP_PROJECTS");
    ASSERT_EQ(p.LiveRowCount(), 1u);
    std::size_t memoChars = 0;
    const auto& row = p.Row(p.AllRows()[0]);
    for (std::size_t c = 0; c < p.Columns().size(); ++c)
        if (p.Columns()[c].type == jet::type::Memo && row[c]) memoChars += row[c]->size();
    EXPECT_GT(memoChars, 300u);
    EXPECT_EQ(p.Columns().size(), 74u);  // the definition spans two pages
}

TEST(JetReader, PasswordIsCheckedExactly) {
    auto open = [](const std::wstring& sample, std::optional<std::wstring> pwd) {
        return ErrorOf([&] {
            jet::OpenOptions o;
            o.readOnly = true;
            o.password = pwd;
            jet::Database::Open(Sample(sample).wstring(), o);
        });
    };
    EXPECT_EQ(open(L"V2000_with-password.mdb", L"password"), 0);
    EXPECT_EQ(open(L"V2000_with-password.mdb", L"Password"), jet::err::BadPassword);
    EXPECT_EQ(open(L"V2000_with-password.mdb", L"passwor"), jet::err::BadPassword);
    EXPECT_EQ(open(L"V2000_with-password.mdb", std::nullopt), jet::err::BadPassword);
    EXPECT_EQ(open(L"V2000_with-password.mdb", L""), jet::err::BadPassword);
    // A file without a password ignores one given.
    EXPECT_EQ(open(L"V2000_no-password.mdb", std::nullopt), 0);
    EXPECT_EQ(open(L"V2000_no-password.mdb", L"anything"), 0);
}

TEST(JetReader, MissingTableAndFileGiveDaoErrors) {
    auto db = OpenSample(L"delTestV2000.mdb");
    EXPECT_EQ(ErrorOf([&] { db->OpenTable(L"Process"); }), jet::err::NoSuchTable);
    TempFolder dir;
    jet::OpenOptions o;
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(dir.File(L"missing.mdb"), o); }), jet::err::FileNotFound);
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(dir.path().wstring(), o); }), jet::err::NoPermission);
}

TEST(JetReader, RefusesFilesThatAreNotJet4) {
    auto good = ReadAll(Sample(L"delTestV2000.mdb").wstring());
    EXPECT_EQ(OpenBytes(good), 0);
    EXPECT_EQ(OpenBytes({}), jet::err::NotDatabase);
    auto jet3 = good;
    jet3[0x14] = 0;  // Jet 3 version byte
    EXPECT_EQ(OpenBytes(jet3), jet::err::NotDatabase);
    auto ace = good;
    std::memcpy(&ace[4], "Standard ACE DB", 15);
    ace[0x14] = 2;
    EXPECT_EQ(OpenBytes(ace), jet::err::NotDatabase);
    std::mt19937 random(7);
    std::vector<std::uint8_t> noise(64 * 1024);
    for (auto& b : noise) b = std::uint8_t(random());
    EXPECT_EQ(OpenBytes(noise), jet::err::NotDatabase);
    EXPECT_EQ(OpenBytes(std::vector<std::uint8_t>(good.begin(), good.begin() + 5000)), jet::err::NotDatabase);
}

TEST(JetReader, TruncatedAndDamagedFilesFailCleanly) {
    for (const wchar_t* s : kSamples) {
        auto bytes = ReadAll(Sample(s).wstring());
        for (std::size_t cut : {std::size_t(4096 * 3), bytes.size() / 3, bytes.size() / 2, bytes.size() - 4096}) {
            long e = ReadEverything(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut), SamplePassword(s));
            EXPECT_TRUE(e == 0 || e == jet::err::CorruptFile || e == jet::err::NotDatabase) << e;
        }
        // Flip bytes across the file: every outcome is a result or a clean error.
        std::mt19937 random(11);
        for (int round = 0; round < 40; ++round) {
            auto damaged = bytes;
            for (int k = 0; k < 64; ++k) damaged[4096 + random() % (damaged.size() - 4096)] = std::uint8_t(random());
            long e = ReadEverything(damaged, SamplePassword(s));
            EXPECT_TRUE(e == 0 || e == jet::err::CorruptFile || e == jet::err::NotDatabase) << e;
        }
    }
}

TEST(JetReader, WritesAreRefusedOnReadOnlyOpensAndIndexedTables) {
    TempFolder dir;
    std::wstring path = CopySample(L"V2000_no-password.mdb", dir);
    auto before = ReadAll(path);
    {
        jet::OpenOptions o;
        o.exclusive = true;
        auto db = jet::Database::Open(path, o);
        auto& t = db->OpenTable(L"Table1");
        EXPECT_EQ(ErrorOf([&] { t.Append({L"4", L"Four"}); }), jet::err::NotUpdatable);
        EXPECT_EQ(ErrorOf([&] { t.Delete(t.AllRows()[0]); }), jet::err::NotUpdatable);
        EXPECT_EQ(ErrorOf([&] { db->CreateTable(L"Process", {{L"ProcessName"}}); }), jet::err::NotUpdatable);
    }
    {
        jet::OpenOptions o;
        o.readOnly = true;
        auto db = jet::Database::Open(CopySample(L"delTestV2000.mdb", dir), o);
        auto& t = db->OpenTable(L"Table");
        EXPECT_EQ(ErrorOf([&] { t.Append({L"a", L"b"}); }), jet::err::NotUpdatable);
    }
    EXPECT_EQ(ReadAll(path), before);
}
