// The knowledge source and the files built from it: the shipped source is
// sound, the maker's file reads back through DAO with the password and
// deciphers to the source, the user's file is created once and then kept.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include "platform/dao/dao.h"
#include "platform/jet/Jet.h"
#include "sysaccess/modEnDeCryption.h"
#include "tools/KnowledgeFiles.h"

namespace {

const std::wstring kPassword = MORVIX_KNOWLEDGE_PASSWORD;
const std::wstring kKey = MORVIX_KNOWLEDGE_KEY;

std::wstring Encipher(const std::wstring& t) { return modEnDeCryption::Encrypt(t, kKey); }

std::wstring Plain(const std::wstring& t) {
    std::wstring d = modEnDeCryption::Decrypt(t, kKey);
    d.erase(d.find_last_not_of(L' ') + 1);
    return d;
}

class TempFolder {
public:
    TempFolder() {
        path_ = std::filesystem::temp_directory_path() /
                (L"morvix-kf-" + std::to_wstring(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::wstring File(const wchar_t* name) const { return (path_ / name).wstring(); }

private:
    std::filesystem::path path_;
};

std::string ProblemsOf(const std::string& text) {
    try {
        knowledge::ParseSource(text);
        return "";
    } catch (const knowledge::SourceError& e) {
        return e.what();
    }
}

std::string Bytes(const std::wstring& path) {
    std::ifstream in{std::filesystem::path(path), std::ios::binary};
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool HasChinese(const std::wstring& s) {
    return std::any_of(s.begin(), s.end(), [](wchar_t c) { return c >= 0x4E00 && c <= 0x9FFF; });
}

}  // namespace

TEST(KnowledgeSource, TheShippedSourceIsSound) {
    knowledge::Source s = knowledge::ReadSource(MORVIX_KNOWLEDGE_SOURCE);
    EXPECT_EQ(s.version, L"2008-05-09");
    EXPECT_GE(s.entries.size(), 400u);
    std::size_t dangerous = 0;
    std::set<std::wstring> names;
    for (const auto& e : s.entries) {
        EXPECT_TRUE(HasChinese(e.description)) << jet::ToUtf8(e.name);
        dangerous += e.virus == L"Y";
        names.insert(e.name);
    }
    EXPECT_GE(dangerous, 30u);
    for (const wchar_t* known : {L"System Idle Process", L"System", L"smss.exe", L"csrss.exe", L"winlogon.exe",
                                 L"services.exe", L"lsass.exe", L"svchost.exe", L"explorer.exe", L"spoolsv.exe"})
        EXPECT_TRUE(names.count(known)) << jet::ToUtf8(known);
}

TEST(KnowledgeSource, BadLinesAreReportedByNumber) {
    EXPECT_EQ(ProblemsOf("@Version\t2008-05-09\n# comment\n\na.exe\t说明\tN\r\n"), "");
    EXPECT_EQ(ProblemsOf("\xEF\xBB\xBF@Version\t2008-05-09\n"), "");  // a byte-order mark is skipped
    EXPECT_EQ(ProblemsOf("a.exe\t说明\tN\n"), "no @Version line\n");
    EXPECT_EQ(ProblemsOf("@Version\t2008-13-09\n"), "line 1: expected @Version<TAB>yyyy-mm-dd\nno @Version line\n");
    // Only days the calendar has: the program converts the text to a date.
    for (const char* day : {"2008-02-31", "2009-02-29", "1900-02-29", "2008-04-31", "2008-00-10", "2008-05-00"})
        EXPECT_EQ(ProblemsOf(std::string("@Version\t") + day + "\n"),
                  "line 1: expected @Version<TAB>yyyy-mm-dd\nno @Version line\n") << day;
    for (const char* day : {"2008-02-29", "2000-02-29", "2008-12-31"})
        EXPECT_EQ(ProblemsOf(std::string("@Version\t") + day + "\n"), "") << day;
    std::string problems = ProblemsOf(
        "@Version\t2008-05-09\n"
        "a.exe\t说明\ty\n"
        "b.exe\t说明\n"
        "A.EXE\t说明\tN\n"
        " c.exe\t说明\tN\n"
        "d.exe\t\tN\n" +
        std::string(249, 'x') + "\t说明\tN\n");
    EXPECT_NE(problems.find("line 2: the last field must be Y or N"), std::string::npos) << problems;
    EXPECT_NE(problems.find("line 3: expected name<TAB>description<TAB>Y|N"), std::string::npos);
    EXPECT_NE(problems.find("line 4: the name A.EXE is already listed"), std::string::npos);
    EXPECT_NE(problems.find("line 5: the name is empty"), std::string::npos);
    EXPECT_NE(problems.find("line 6: the description is empty"), std::string::npos);
    EXPECT_NE(problems.find("line 7: the name is empty"), std::string::npos);
}

TEST(KnowledgeFiles, TheMakersFileReadsBackThroughDao) {
    TempFolder dir;
    knowledge::Source s = knowledge::ParseSource(
        "@Version\t2008-05-09\n"
        "explorer.exe\tWindows 资源管理器\tN\n"
        "o'neil.exe\t带'引号'的描述\tY\n"
        "A Long Name With Spaces.exe\t" + std::string(200, 'd') + "\tN\n");
    std::wstring path = dir.File(L"db.mdb");
    knowledge::WriteMakerFile(path, s, Encipher, kPassword);
    EXPECT_FALSE(std::filesystem::exists(path + L".new"));
    auto db = dao::DBEngine::OpenDatabase(path, true, false, L";pwd=" + kPassword);
    auto rs = db->OpenRecordset(L"SELECT * FROM Process");
    std::size_t i = 0;
    for (; !rs->EOF_(); rs->MoveNext(), ++i) {
        ASSERT_LT(i, s.entries.size());
        EXPECT_EQ(Plain(*rs->Fields(L"ProcessName")), s.entries[i].name);
        EXPECT_EQ(Plain(*rs->Fields(L"Description")), s.entries[i].description);
        EXPECT_EQ(*rs->Fields(L"Virus"), s.entries[i].virus);
    }
    EXPECT_EQ(i, 3u);
    // Looked up as the colour lookup does: by the enciphered name, any case.
    auto hit = db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = " + dao::SqlQuote(Encipher(L"O'NEIL.EXE")));
    EXPECT_EQ(hit->RecordCount(), 1);
    auto version = db->OpenRecordset(L"SELECT * FROM Version");
    EXPECT_EQ(version->Fields(L"Version"), L"2008-05-09");
}

TEST(KnowledgeFiles, ARewriteReplacesTheFileOnlyWhenComplete) {
    TempFolder dir;
    std::wstring path = dir.File(L"db.mdb");
    knowledge::Source s = knowledge::ParseSource("@Version\t2008-05-09\na.exe\t说明\tN\n");
    knowledge::WriteMakerFile(path, s, Encipher, kPassword);
    s.version = L"2008-06-01";
    knowledge::WriteMakerFile(path, s, Encipher, kPassword);  // replaces an earlier build
    {
        auto db = dao::DBEngine::OpenDatabase(path, true, false, L";pwd=" + kPassword);
        EXPECT_EQ(db->OpenRecordset(L"SELECT * FROM Version")->Fields(L"Version"), L"2008-06-01");
#ifdef _WIN32
        // While the program holds the file, a rebuild fails and leaves it alone
        // (on POSIX a rename replaces a file that is open).
        EXPECT_ANY_THROW(knowledge::WriteMakerFile(path, s, Encipher, kPassword));
#endif
    }
    auto db = dao::DBEngine::OpenDatabase(path, true, false, L";pwd=" + kPassword);
    EXPECT_EQ(db->OpenRecordset(L"SELECT * FROM Process")->RecordCount(), 1);
}

TEST(KnowledgeFiles, TheUsersFileIsCreatedOnceAndThenKept) {
    TempFolder dir;
    std::wstring path = dir.File(L"userdb.mdb");
    EXPECT_TRUE(knowledge::EnsureUserFile(path));
    {
        auto db = dao::DBEngine::OpenDatabase(path, true, false);
        auto rs = db->OpenRecordset(L"SELECT * FROM Process");
        EXPECT_EQ(rs->RecordCount(), 0);
        rs->AddNew();
        rs->SetField(L"ProcessName", L"mine.exe");
        rs->SetField(L"Description", L"我的");
        rs->SetField(L"Virus", L"Y");
        rs->Update();
    }
    EXPECT_FALSE(knowledge::EnsureUserFile(path));
    auto db = dao::DBEngine::OpenDatabase(path, true, false);
    EXPECT_EQ(db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = 'MINE.EXE'")->RecordCount(), 1);
    db.reset();
    // Something else in its place is not overwritten.
    std::wstring other = dir.File(L"other.mdb");
    std::ofstream(std::filesystem::path(other)) << "not a database";
    EXPECT_ANY_THROW(knowledge::EnsureUserFile(other));
    EXPECT_EQ(Bytes(other), "not a database");
    // Nor is one that comes while ours is made: the user's is kept as theirs.
    std::wstring racy = dir.File(L"racy.mdb");
    const std::pair<std::string, std::string> lateFiles[] = {{Bytes(path), "kept"}, {"not a database", "refused"}};
    for (const auto& [late, outcome] : lateFiles) {
        std::filesystem::remove(racy);
        knowledge::g_beforeMove = [&](const std::wstring&) {
            std::ofstream(std::filesystem::path(racy), std::ios::binary) << late;
        };
        std::string got;
        try {
            got = knowledge::EnsureUserFile(racy) ? "created" : "kept";
        } catch (const std::exception&) {
            got = "refused";
        }
        knowledge::g_beforeMove = nullptr;
        EXPECT_EQ(got, outcome);
        EXPECT_TRUE(Bytes(racy) == late) << outcome;
        EXPECT_FALSE(std::filesystem::exists(racy + L".new")) << outcome;
    }
#ifndef _WIN32
    // A link to a drive that is not there: the existence check cannot see it.
    std::wstring linked = dir.File(L"linked.mdb");
    std::filesystem::create_symlink(dir.File(L"elsewhere/userdb.mdb"), linked);
    EXPECT_ANY_THROW(knowledge::EnsureUserFile(linked));
    EXPECT_TRUE(std::filesystem::is_symlink(linked));
    // A disk that fills while the file is made: the write that crosses the
    // limit lands part of its page, the next fails.  Nothing is left in the
    // file's place, and a later build makes it whole.
    std::wstring full = dir.File(L"full.mdb");
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    signal(SIGXFSZ, SIG_IGN);
    for (rlim_t page = 1; page < 6; ++page) {
        rlimit small{page * 4096 + 1000, old.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        EXPECT_ANY_THROW(knowledge::EnsureUserFile(full)) << "page " << page;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(full))) << "page " << page;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(full + L".new"))) << "page " << page;
    }
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_TRUE(knowledge::EnsureUserFile(full));
    EXPECT_FALSE(knowledge::EnsureUserFile(full));
#endif
}

TEST(KnowledgeFiles, TheBuiltFilesBesideTheProgram) {
    std::filesystem::path bin(MORVIX_KNOWLEDGE_BIN);
    knowledge::Source s = knowledge::ReadSource(MORVIX_KNOWLEDGE_SOURCE);
    // Copies, so that a program running from the folder cannot get in the way.
    TempFolder dir;
    std::wstring db = dir.File(L"db.mdb"), user = dir.File(L"userdb.mdb");
    std::filesystem::copy_file(bin / L"db.mdb", db);
    std::filesystem::copy_file(bin / L"userdb.mdb", user);
    EXPECT_THROW(dao::DBEngine::OpenDatabase(db, true, false), dao::Error);  // it has a password
    auto main = dao::DBEngine::OpenDatabase(db, true, false, L";pwd=" + kPassword);
    EXPECT_EQ(main->OpenRecordset(L"SELECT * FROM Process")->RecordCount(), long(s.entries.size()));
    EXPECT_EQ(main->OpenRecordset(L"SELECT * FROM Version")->Fields(L"Version"), s.version);
    auto virus = [&](const wchar_t* name) {
        auto rs = main->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = " + dao::SqlQuote(Encipher(name)));
        return rs->EOF_() ? std::wstring(L"-") : rs->Fields(L"Virus").value_or(L"");
    };
    EXPECT_EQ(virus(L"explorer.exe"), L"N");
    EXPECT_EQ(virus(L"EXPLORER.EXE"), L"N");
    EXPECT_EQ(virus(L"msblast.exe"), L"Y");
    EXPECT_EQ(virus(L"spoclsv.exe"), L"Y");
    EXPECT_EQ(virus(L"no-such-process.exe"), L"-");
    auto userdb = dao::DBEngine::OpenDatabase(user, true, false);
    EXPECT_NO_THROW(userdb->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = 'x'"));
}

// A maker's file that lost its last pages (a cut download, a full disk) is
// refused whole, never read as a smaller knowledge base.
TEST(KnowledgeFiles, AMakersFileThatLostItsEndIsRefused) {
    std::filesystem::path bin(MORVIX_KNOWLEDGE_BIN);
    for (std::uintmax_t cut : {4096u, 16384u}) {
        TempFolder dir;
        std::wstring db = dir.File(L"db.mdb");
        std::filesystem::copy_file(bin / L"db.mdb", db);
        std::filesystem::resize_file(db, std::filesystem::file_size(db) - cut);
        try {
            dao::DBEngine::OpenDatabase(db, true, false, L";pwd=" + kPassword);
            ADD_FAILURE() << "opened with " << cut << " bytes missing";
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.Number(), 3049) << cut;
        }
    }
}

#ifndef _WIN32
// mdbtools, an independent reader, sees the shipped file the same way.
TEST(KnowledgeFiles, MdbExportReadsTheBuiltMakersFile) {
    std::string path = jet::ToUtf8((std::filesystem::path(MORVIX_KNOWLEDGE_BIN) / L"db.mdb").wstring());
    FILE* pipe = popen(("mdb-export -H -Q -d '\t' '" + path + "' Process").c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string text;
    char buf[8192];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
    pclose(pipe);
    // Rows come in storage order, which need not be the source's order.
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> exported;
    std::size_t rows = 0, start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1, ++rows) {
        std::wstring line = jet::FromUtf8(text.substr(start, end - start));
        std::size_t a = line.find(L'\t'), b = line.find(L'\t', a + 1);
        ASSERT_NE(b, std::wstring::npos);
        exported[Plain(line.substr(0, a))] = {Plain(line.substr(a + 1, b - a - 1)), line.substr(b + 1)};
    }
    knowledge::Source s = knowledge::ReadSource(MORVIX_KNOWLEDGE_SOURCE);
    EXPECT_EQ(rows, s.entries.size());
    for (const auto& e : s.entries) {
        auto it = exported.find(e.name);
        ASSERT_NE(it, exported.end()) << jet::ToUtf8(e.name);
        EXPECT_EQ(it->second.first, e.description);
        EXPECT_EQ(it->second.second, e.virus);
    }
}
#endif
