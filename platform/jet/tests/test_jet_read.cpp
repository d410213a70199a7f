// Reading what Access wrote, and refusing what is not a Jet 4 file.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <random>

#include "platform/jet/Rows.h"
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

// A file whose last pages are gone is refused at open (3049) when anything
// names a page past its end; it never opens as tables that lost rows.  The
// one cut that loses only a page nothing names reads exactly as before.
TEST(JetReader, AFileThatLostItsEndIsRefusedWhole) {
    auto open = [](std::vector<std::uint8_t> bytes, const std::wstring& password) {
        jet::OpenOptions o;
        o.readOnly = true;
        o.password = password;
        return jet::Database::Open(std::make_unique<jet::MemoryFile>(std::move(bytes)), o);
    };
    for (const wchar_t* s : kSamples) {
        auto bytes = ReadAll(Sample(s).wstring());
        for (std::size_t cut : {std::size_t(4096), std::size_t(16384)}) {
            SCOPED_TRACE(jet::ToUtf8(s) + " less " + std::to_string(cut));
            std::vector<std::uint8_t> shorter(bytes.begin(), bytes.end() - std::ptrdiff_t(cut));
            if (std::wstring(s) == L"test2V2000.mdb" && cut == 4096) {
                // Its last page is a definition no table uses.
                auto whole = open(bytes, SamplePassword(s)), cutDb = open(shorter, SamplePassword(s));
                for (auto& n : whole->TableNames(true))
                    EXPECT_EQ(Dump(cutDb->OpenTable(n)), Dump(whole->OpenTable(n))) << jet::ToUtf8(n);
                continue;
            }
            EXPECT_EQ(ErrorOf([&] { open(shorter, SamplePassword(s)); }), jet::err::CorruptFile);
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

namespace {

// A file the engine made, held in memory, with helpers to edit its pages the
// way Access leaves them.
struct Crafted {
    std::vector<std::uint8_t> bytes;
    std::uint8_t* Page(std::uint32_t n) { return bytes.data() + std::size_t(n) * 4096; }
    std::uint32_t Pages() const { return std::uint32_t(bytes.size() / 4096); }
    static std::uint16_t Get16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
    static void Put16(std::uint8_t* p, unsigned v) { p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8); }
    // The user table's definition page and its data pages.
    std::uint32_t Tdef() {
        for (std::uint32_t n = 3; n < Pages(); ++n)
            if (Page(n)[0] == 0x02) return n;
        return 0;
    }
    std::vector<std::uint32_t> DataPages(std::uint32_t tdef) {
        std::vector<std::uint32_t> out;
        for (std::uint32_t n = 3; n < Pages(); ++n)
            if (Page(n)[0] == 0x01 && Page(n)[4] == std::uint8_t(tdef) && Page(n)[5] == 0) out.push_back(n);
        return out;
    }
    std::unique_ptr<jet::Database> Open(bool readOnly = true) {
        return jet::Database::Open(std::make_unique<jet::MemoryFile>(bytes), {.readOnly = readOnly});
    }
};

Crafted MakeCrafted(int rows, int nameLength) {
    auto file = std::make_unique<jet::MemoryFile>();
    auto* raw = file.get();
    auto db = jet::Database::Create(std::move(file));
    auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
    for (int i = 0; i < rows; ++i)
        t.Append({L"p" + std::to_wstring(i) + std::wstring(std::size_t(nameLength), L'名'), L"描述", L"N"});
    return Crafted{raw->Bytes()};
}

}  // namespace

TEST(JetReader, RowsMovedToAnotherPageAreReadOnceAndDeletedThroughTheirHeader) {
    // Two pages of rows; row 0 of the first page moves into the second page,
    // leaving a 4-byte pointer behind, as Access does when a row outgrows its page.
    Crafted c = MakeCrafted(12, 200);
    auto pages = c.DataPages(c.Tdef());
    ASSERT_GE(pages.size(), 2u);
    std::uint8_t* a = c.Page(pages[0]);
    std::uint8_t* b = c.Page(pages[1]);
    std::size_t start = Crafted::Get16(a + 14) & 0x1FFF, end = 4096;
    std::vector<std::uint8_t> row(a + start, a + end);
    std::size_t count = Crafted::Get16(b + 12), lowest = Crafted::Get16(b + 14 + 2 * (count - 1)) & 0x1FFF;
    std::size_t at = lowest - row.size();
    ASSERT_GT(at, 14 + 2 * (count + 1));
    std::memcpy(b + at, row.data(), row.size());
    Crafted::Put16(b + 14 + 2 * count, unsigned(at) | 0x8000);  // the moved row: not a row of its own
    Crafted::Put16(b + 12, unsigned(count + 1));
    Crafted::Put16(a + 14, (end - 4) | 0x4000);  // the header: row number, then page
    a[end - 4] = std::uint8_t(count);
    a[end - 3] = std::uint8_t(pages[1]);
    a[end - 2] = std::uint8_t(pages[1] >> 8);
    a[end - 1] = 0;

    auto db = c.Open(false);
    auto& t = db->OpenTable(L"Process");
    auto names = Dump(t);
    ASSERT_EQ(names.size(), 12u);
    EXPECT_EQ(names[0][0], L"p0" + std::wstring(200, L'名'));
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](auto& r) { return r[0].rfind(L"p0", 0) == 0; }), 1);
    t.Delete(t.FindEqual(0, names[0][0]).at(0));
    EXPECT_EQ(t.LiveRowCount(), 11u);
}

TEST(JetReader, OverflowRowsPastTheEndAreCorruption) {
    // An overflow header whose row lies on a page past the end of the file.
    Crafted c = MakeCrafted(3, 2);
    auto pages = c.DataPages(c.Tdef());
    std::uint8_t* a = c.Page(pages[0]);
    Crafted::Put16(a + 14, (4096 - 4) | 0x4000);
    a[4092] = 0;
    a[4093] = std::uint8_t(c.Pages() + 3);
    a[4094] = a[4095] = 0;
    EXPECT_EQ(ErrorOf([&] { c.Open(); }), jet::err::CorruptFile);
}

// Numeric (decimal) columns read as decimal text: a sign byte, then a 128-bit
// magnitude in four little-endian words, the most significant first.
TEST(JetReader, NumericColumnsReadAsDecimalText) {
    auto numeric = [](bool negative, std::array<std::uint32_t, 4> words, std::uint8_t scale) {
        std::uint8_t bytes[17] = {std::uint8_t(negative ? 0x80 : 0)};
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < 4; ++i) bytes[1 + 4 * k + i] = std::uint8_t(words[k] >> (8 * i));
        jet::Column c;
        c.type = jet::type::Numeric;
        c.flags = 0x03;
        c.precision = 28;
        c.scale = scale;
        return *jet::DecodeField(c, bytes, 17, nullptr);
    };
    EXPECT_EQ(numeric(false, {0, 0, 0, 1}, 0), L"1");
    EXPECT_EQ(numeric(true, {0, 0, 0, 1}, 0), L"-1");
    EXPECT_EQ(numeric(true, {0, 0, 0, 0}, 0), L"0");
    EXPECT_EQ(numeric(false, {0, 0, 1, 0}, 0), L"4294967296");
    EXPECT_EQ(numeric(false, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, 0),
              L"340282366920938463463374607431768211455");
    EXPECT_EQ(numeric(false, {0, 0, 0, 12345}, 2), L"123.45");
    EXPECT_EQ(numeric(true, {0, 0, 0, 5}, 3), L"-0.005");
    EXPECT_EQ(numeric(false, {0, 0, 0, 1500}, 3), L"1.5");
    EXPECT_EQ(numeric(false, {0, 0, 0, 2000}, 3), L"2");
}

// A table whose one column is Numeric(18, scale), holding `values` (sign,
// low 64 bits of the magnitude): the engine writes no such column, so a
// one-text-column table is turned into one.
Crafted MakeNumericTable(const std::vector<std::pair<bool, std::uint64_t>>& values, std::uint8_t scale) {
    Crafted c;
    {
        auto file = std::make_unique<jet::MemoryFile>();
        auto* raw = file.get();
        auto db = jet::Database::Create(std::move(file));
        db->CreateTable(L"Amounts", {{L"Amount"}});
        c.bytes = raw->Bytes();
    }
    std::uint8_t* def = c.Page(c.Tdef());
    std::uint8_t* column = def + 0x3F;
    column[0] = jet::type::Numeric;
    column[11] = 18;
    column[12] = scale;
    column[15] = 0x03;  // fixed length
    column[21] = column[22] = 0;
    Crafted::Put16(column + 23, 17);
    Crafted::Put16(def + 0x2B, 0);  // no variable columns left
    {
        auto file = std::make_unique<jet::MemoryFile>(c.bytes);
        auto* raw = file.get();
        auto db = jet::Database::Open(std::move(file), {});
        auto& t = db->OpenTable(L"Amounts");
        for (std::size_t i = 0; i < values.size(); ++i) t.Append({std::nullopt});
        c.bytes = raw->Bytes();
    }
    std::uint8_t* page = c.Page(c.DataPages(c.Tdef()).at(0));
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::size_t start = Crafted::Get16(page + 14 + 2 * i) & 0x1FFF;
        std::size_t end = i == 0 ? 4096 : Crafted::Get16(page + 14 + 2 * (i - 1)) & 0x1FFF;
        std::uint8_t* row = page + start;
        row[2] = values[i].first ? 0x80 : 0;
        for (int b = 0; b < 8; ++b) row[2 + 13 + (b / 4 ? -4 : 0) + b % 4] = std::uint8_t(values[i].second >> (8 * b));
        page[end - 1] |= 1;  // the null-mask bit: a value
    }
    return c;
}

TEST(JetReader, NumericColumnsOfAFileReadAsMdbtoolsReadsThem) {
    const std::vector<std::pair<bool, std::uint64_t>> values = {
        {false, 1}, {true, 1}, {false, 0}, {false, 4294967296ull}, {true, 123456789012345678ull}};
    Crafted c = MakeNumericTable(values, 0);
    auto db = c.Open();
    auto rows = Dump(db->OpenTable(L"Amounts"));
    std::vector<std::vector<std::wstring>> want = {
        {L"1"}, {L"-1"}, {L"0"}, {L"4294967296"}, {L"-123456789012345678"}};
    EXPECT_EQ(rows, want);
#ifndef _WIN32
    TempFolder dir;
    WriteAll(dir.File(L"numeric.mdb"), c.bytes);
    std::string command = "mdb-export -H '" + jet::ToUtf8(dir.File(L"numeric.mdb")) + "' Amounts";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
    pclose(pipe);
    std::string ours;
    for (auto& r : rows) ours += jet::ToUtf8(r[0]) + "\n";
    EXPECT_EQ(text, ours);
#endif
    Crafted scaled = MakeNumericTable({{false, 12345}, {true, 5}}, 3);
    EXPECT_EQ(Dump(scaled.Open()->OpenTable(L"Amounts")),
              (std::vector<std::vector<std::wstring>>{{L"12.345"}, {L"-0.005"}}));
}

TEST(JetReader, DeletedColumnsLeaveGapsThatReadAsBefore) {
    // Remove the middle column from the definition: the rows keep its bytes,
    // and the column numbers keep the gap.
    Crafted c = MakeCrafted(3, 2);
    std::uint8_t* def = c.Page(c.Tdef());
    std::size_t columns = 0x3F, names = columns + 3 * 25;
    std::size_t firstName = 2 + Crafted::Get16(def + names);
    std::size_t secondName = 2 + Crafted::Get16(def + names + firstName);
    std::vector<std::uint8_t> rebuilt(def, def + columns + 25);              // header and column 0
    rebuilt.insert(rebuilt.end(), def + columns + 50, def + names);          // column 2
    rebuilt.insert(rebuilt.end(), def + names, def + names + firstName);     // name 0
    std::size_t tail = Crafted::Get16(def + 8) - (names + firstName + secondName);
    rebuilt.insert(rebuilt.end(), def + names + firstName + secondName,
                   def + names + firstName + secondName + tail);             // name 2 and the end
    Crafted::Put16(rebuilt.data() + 0x2B, 2);  // variable columns
    Crafted::Put16(rebuilt.data() + 0x2D, 2);  // columns; the maximum stays 3
    Crafted::Put16(rebuilt.data() + 8, unsigned(rebuilt.size()));
    std::memset(def, 0, 4096);
    std::memcpy(def, rebuilt.data(), rebuilt.size());

    auto db = c.Open();
    auto& t = db->OpenTable(L"Process");
    ASSERT_EQ(t.Columns().size(), 2u);
    EXPECT_EQ(t.Columns()[1].name, L"Virus");
    EXPECT_EQ(t.Columns()[1].number, 2);
    EXPECT_EQ(Dump(t)[2], (std::vector<std::wstring>{L"p2名名", L"N"}));
}

TEST(JetReader, PagesCodedWithTheDatabaseKeyReadAndWrite) {
    // The fuzzer's seeds: the same small file plain and with every page coded.
    auto plain = ReadAll((std::filesystem::path(MORVIX_JET_CORPUS) / L"small.mdb").wstring());
    auto coded = ReadAll((std::filesystem::path(MORVIX_JET_CORPUS) / L"coded.mdb").wstring());
    ASSERT_NE(plain, coded);
    auto a = jet::Database::Open(std::make_unique<jet::MemoryFile>(plain), {.readOnly = true});
    auto file = std::make_unique<jet::MemoryFile>(coded);
    auto* raw = file.get();
    auto b = jet::Database::Open(std::move(file), {});
    EXPECT_EQ(Dump(b->OpenTable(L"Process")), Dump(a->OpenTable(L"Process")));
    b->OpenTable(L"Process").Append({L"added.exe", L"新的", L"Y"});
    auto reread = jet::Database::Open(std::make_unique<jet::MemoryFile>(raw->Bytes()), {.readOnly = true});
    EXPECT_EQ(Dump(reread->OpenTable(L"Process")).back(), (std::vector<std::wstring>{L"added.exe", L"新的", L"Y"}));
}
