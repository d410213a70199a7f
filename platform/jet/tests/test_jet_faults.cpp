// A write that fails part-way (full disk, broken device) loses no record that
// was there before, and the file still opens and reads.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/jet/tests/JetTestSupport.h"

using namespace jettest;

namespace {

// A user file with `rows` rows; returns their names.
std::vector<std::wstring> MakeFile(const std::wstring& path, int rows, int nameLength) {
    std::vector<std::wstring> names;
    auto db = jet::Database::Create(path);
    auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
    for (int i = 0; i < rows; ++i) {
        std::wstring n = std::to_wstring(i) + L"-" + std::wstring(std::size_t(nameLength), L'名') + L".exe";
        t.Append({n, std::wstring(std::size_t(nameLength), L'述'), L"N"});
        names.push_back(n);
    }
    return names;
}

std::vector<std::vector<std::wstring>> DumpOf(const std::wstring& path) {
    jet::OpenOptions o;
    o.exclusive = true;
    auto db = jet::Database::Open(path, o);
    return Dump(db->OpenTable(L"Process"));
}

std::unique_ptr<jet::Database> OpenFaulty(const std::wstring& path, long failAfter, bool onlyOnce, long error,
                                          std::size_t landBytes, FaultyFile** handle) {
    auto inner = jet::OpenFile(path, jet::FileAccess::ReadWrite, true);
    auto faulty = std::make_unique<FaultyFile>(std::move(inner), failAfter, onlyOnce, error, landBytes);
    *handle = faulty.get();
    jet::OpenOptions o;
    o.exclusive = true;
    return jet::Database::Open(std::move(faulty), o);
}

enum class Op { AppendFits, AppendNewPage, AppendPastMap, Delete, Replace, ReplaceLonger, ReplaceElsewhere };

void RunOp(jet::Table& t, Op op) {
    switch (op) {
    case Op::AppendFits:
    case Op::AppendNewPage:
    case Op::AppendPastMap:
        t.Append({L"added.exe", std::wstring(200, L'新'), L"Y"});
        break;
    case Op::Delete:
        t.Delete(t.AllRows()[1]);
        break;
    case Op::Replace:
        t.Replace(t.AllRows()[1], {L"replaced.exe", L"", L"N"});
        break;
    case Op::ReplaceLonger:  // still fits the old row's page
        t.Replace(t.AllRows()[1], {L"replaced.exe", std::wstring(100, L'新'), L"N"});
        break;
    case Op::ReplaceElsewhere:  // too long for the old row's full page
        t.Replace(t.AllRows()[1], {L"replaced.exe", std::wstring(250, L'新'), L"N"});
        break;
    }
}

std::vector<std::vector<std::wstring>> Sorted(std::vector<std::vector<std::wstring>> rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Fails the operation's writes from every position in turn (a failing write
// first landing `landBytes` of its bytes); after each the file must hold
// every earlier record, plus at most the operation's effect, and the
// connection must show what the file holds, or, when `driveGone` fails the
// reads too, raise that on every read and write.
void ExpectNoLoss(Op op, int rows, int nameLength, long error, bool onlyOnce, std::size_t landBytes = 0,
                  bool driveGone = false) {
    SCOPED_TRACE("operation " + std::to_string(int(op)) + " on " + std::to_string(rows) + " rows");
    TempFolder dir;
    std::wstring seed = dir.File(L"seed.mdb");
    auto names = MakeFile(seed, rows, nameLength);
    auto seedBytes = ReadAll(seed);
    if (op == Op::AppendPastMap) {
        ASSERT_EQ(seedBytes.size(), 512u * 4096u);  // the inline map is full
    }
    // Every row but the one changed reads as it did.
    auto others = [&](std::vector<std::vector<std::wstring>> rows) {
        std::erase_if(rows, [&](const auto& r) {
            return r[0] == names[1] || r[0] == L"replaced.exe" || r[0] == L"added.exe";
        });
        return rows;
    };
    const auto seedOthers = others(DumpOf(seed));
    int failures = 0, losses = 0;
    for (long failAfter = 0; failAfter < 12; ++failAfter) {
        SCOPED_TRACE("fail after " + std::to_string(failAfter) + " writes");
        std::wstring path = dir.File(L"work.mdb");
        WriteAll(path, seedBytes);
        bool threw = false;
        long lost = 0;  // what the connection's reads raise
        std::vector<std::vector<std::wstring>> seen;
        {
            FaultyFile* file = nullptr;
            auto db = OpenFaulty(path, failAfter, onlyOnce, error, landBytes, &file);
            file->goneAfterFault = driveGone;
            auto& t = db->OpenTable(L"Process");
            try {
                RunOp(t, op);
            } catch (const jet::Error& e) {
                threw = true;
                EXPECT_EQ(e.Number(), error);
                ++failures;
            }
            EXPECT_EQ(threw, file->failed);
            lost = ErrorOf([&] { seen = Sorted(Dump(t)); });
            losses += lost != 0;
            for (const auto& read : std::vector<std::function<void()>>{[&] { Dump(t); }, [&] { t.IsLive(0); },
                     [&] { t.FindEqual(0, names[0]); }, [&] { t.LiveRowCount(); }, [&] { RunOp(t, Op::AppendFits); }})
                EXPECT_TRUE(!lost || ErrorOf(read) == jet::err::DiskError);
        }
        std::vector<std::vector<std::wstring>> rows;
        ASSERT_NO_THROW(rows = DumpOf(path)) << "the file no longer opens and reads through";
        EXPECT_TRUE(lost || seen == Sorted(rows)) << "the connection shows " << seen.size() << " rows, a fresh open "
                                                  << rows.size() << ": it no longer shows what its file holds";
        EXPECT_TRUE(others(rows) == seedOthers);
        std::vector<std::wstring> after;
        for (const auto& r : rows) after.push_back(r[0]);
        std::vector<std::wstring> kept;
        for (const auto& n : names)
            if (std::find(after.begin(), after.end(), n) != after.end()) kept.push_back(n);
        const bool replace = op == Op::Replace || op == Op::ReplaceLonger || op == Op::ReplaceElsewhere;
        // Where the rollback's own writes fail and the new row had to go on
        // another page, the old and the new row may stand side by side.
        const bool bothAllowed = op == Op::ReplaceElsewhere && !onlyOnce;
        if (op == Op::Delete || replace) {
            // Only the one row the operation removes may be missing, and only if it completed.
            std::size_t missing = names.size() - kept.size();
            if (!bothAllowed) {
                EXPECT_EQ(missing, threw ? 0u : 1u);
            }
            // Otherwise a replace is whole or not at all: the old row alone, or the new one alone.
            const bool hasOld = std::count(after.begin(), after.end(), names[1]) == 1;
            const bool hasNew = std::count(after.begin(), after.end(), L"replaced.exe") == 1;
            if (bothAllowed) {
                EXPECT_TRUE(hasOld || hasNew);
                EXPECT_EQ(after.size(), names.size() - 1 + hasOld + hasNew);
                if (!threw) {
                    EXPECT_TRUE(hasNew && !hasOld);
                }
            } else if (replace) {
                EXPECT_EQ(after.size(), names.size());
                EXPECT_EQ(std::count(after.begin(), after.end(), L"replaced.exe"), threw ? 0 : 1);
            }
        } else {
            EXPECT_EQ(kept, names);
            EXPECT_LE(after.size(), names.size() + 1);
            bool grew = ReadAll(path).size() > seedBytes.size();
            if (!threw) {
                EXPECT_EQ(after.size(), names.size() + 1);
                EXPECT_EQ(grew, op != Op::AppendFits);
            }
        }
    }
    EXPECT_GT(failures, 0);  // the faults did hit the writes
    EXPECT_TRUE(!driveGone || losses > 0);  // and some left the table unable to read its rows again
}

}  // namespace

TEST(JetWriteFailures, FullDiskDuringAppendToAPageWithRoom) { ExpectNoLoss(Op::AppendFits, 3, 2, 3026, false); }

TEST(JetWriteFailures, FullDiskDuringAppendThatNeedsANewPage) {
    // Rows of ~990 bytes: four fill a page, so the ninth row needs a third page.
    ExpectNoLoss(Op::AppendNewPage, 8, 240, 3026, false);
}

TEST(JetWriteFailures, BrokenDeviceDuringAppendAndConversionPastTheUsageMap) {
    // Four rows of ~990 bytes per page: 2024 rows fill pages 6 to 511, the
    // last an inline map reaches, so the next page converts the map.
    ExpectNoLoss(Op::AppendPastMap, 2024, 240, 3043, false);
}

TEST(JetWriteFailures, OneFailedWriteDuringDeleteAndReplace) {
    ExpectNoLoss(Op::Delete, 5, 2, 3043, true);
    ExpectNoLoss(Op::Replace, 5, 2, 3043, true);
    // Rows of ~990 bytes fill their pages: the long replacement lands on
    // another page, and the rollback of the first page's write restores it.
    ExpectNoLoss(Op::ReplaceElsewhere, 8, 240, 3043, true);
    // A disk that refuses every later write, rollback included: the new row
    // shares the old one's page, so the one write decides.
    ExpectNoLoss(Op::Replace, 8, 200, 3026, false);
    // The same disk, the pages full: the new row needs a new page, which the
    // maps already name when the rollback fails.  The file keeps that page.
    ExpectNoLoss(Op::ReplaceElsewhere, 8, 240, 3026, false);
}

TEST(JetWriteFailures, ADriveGoneAfterAWriteThatPartlyLanded) {
    // No rollback, and the table cannot read again what the file now holds.
    ExpectNoLoss(Op::ReplaceElsewhere, 7, 240, 3043, false, 0, true);
    ExpectNoLoss(Op::Delete, 5, 2, 3026, false, 0, true);
}

TEST(JetWriteFailures, AWriteThatLandsPartOfItsPageAndFails) {
    // A removed drive or a full disk during an extending write: the page
    // whose write failed is put back too.
    for (std::size_t land : {512u, 2048u, 3584u}) {
        SCOPED_TRACE("the failing write lands " + std::to_string(land) + " bytes");
        ExpectNoLoss(Op::Replace, 5, 2, 3043, true, land);
        ExpectNoLoss(Op::ReplaceLonger, 5, 2, 3043, true, land);
        // Seven rows of ~990 bytes: the second page has room for the new row;
        // with eight it must go on a new page.
        ExpectNoLoss(Op::ReplaceElsewhere, 7, 240, 3043, true, land);
        ExpectNoLoss(Op::ReplaceElsewhere, 8, 240, 3026, true, land);
        ExpectNoLoss(Op::Delete, 5, 2, 3043, true, land);
        ExpectNoLoss(Op::AppendFits, 3, 2, 3026, true, land);
        ExpectNoLoss(Op::AppendNewPage, 8, 240, 3026, true, land);
    }
}
