// The knowledge colour of a process name against real knowledge files: the
// user's file first, the maker's enciphered file second, exact "Y"/"N".
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "sysaccess/KnowledgeBase.h"
#include "platform/dao/dao.h"
#include "platform/jet/Jet.h"
#include "sysaccess/modEnDeCryption.h"
#include "sysaccess/modEnumProcess.h"

using modEnumProcess::GetProcessListColor;
using modEnumProcess::kColourDangerous;
using modEnumProcess::kColourKnown;
using modEnumProcess::kColourUnknown;

namespace {

const std::wstring kKey = L"46120573";
const std::wstring kPassword = L"tqvnal527184wodrk";

struct Record {
    std::wstring name;
    std::optional<std::wstring> virus;
};

// Both knowledge files in a fresh folder, opened as start-up opens them.
class KnowledgeColour : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               (L"morvix-kb-" + std::to_wstring(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(dir_);
        modEnDeCryption::g_cipherKey = kKey;
    }
    void TearDown() override {
        modEnumProcess::g_dbMain.reset();
        modEnumProcess::g_dbUser.reset();
        modEnumProcess::g_rsMain.reset();
        modEnumProcess::g_rsUser.reset();
        modEnDeCryption::g_cipherKey.clear();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    void MakerFile(const std::vector<Record>& records) {
        std::wstring path = (dir_ / L"db.mdb").wstring();
        {
            auto db = jet::Database::Create(path, kPassword);
            auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
            for (const auto& r : records)
                t.Append({modEnDeCryption::Encrypt(r.name, kKey), modEnDeCryption::Encrypt(L"描述", kKey), r.virus});
            db->CreateTable(L"Version", {{L"Version", 50}}).Append({L"2008-05-09"});
        }
        modEnumProcess::g_dbMain = dao::DBEngine::OpenDatabase(path, true, false, L";pwd=" + kPassword);
    }
    void UserFile(const std::vector<Record>& records) {
        std::wstring path = (dir_ / L"userdb.mdb").wstring();
        {
            auto db = jet::Database::Create(path);
            auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
            for (const auto& r : records) t.Append({r.name, L"用户的描述", r.virus});
        }
        modEnumProcess::g_dbUser = dao::DBEngine::OpenDatabase(path, true, false);
    }

    std::filesystem::path dir_;
};

}  // namespace

TEST_F(KnowledgeColour, TheUsersFileWinsWithAnExactYOrN) {
    MakerFile({{L"explorer.exe", L"N"}, {L"trojan.exe", L"Y"}, {L"odd.exe", L"Y"}, {L"both.exe", L"N"}});
    UserFile({{L"trojan.exe", L"N"}, {L"odd.exe", L"?"}, {L"both.exe", L"Y"}, {L"mine.exe", L"N"}, {L"low.exe", L"y"}});
    EXPECT_EQ(GetProcessListColor(L"trojan.exe"), kColourKnown);      // user "N" beats maker "Y"
    EXPECT_EQ(GetProcessListColor(L"both.exe"), kColourDangerous);    // user "Y" beats maker "N"
    EXPECT_EQ(GetProcessListColor(L"odd.exe"), kColourDangerous);     // user "?" asks the maker
    EXPECT_EQ(GetProcessListColor(L"low.exe"), kColourUnknown);       // user "y" is neither; maker has none
    EXPECT_EQ(GetProcessListColor(L"mine.exe"), kColourKnown);
    EXPECT_EQ(GetProcessListColor(L"explorer.exe"), kColourKnown);
    EXPECT_EQ(GetProcessListColor(L"nowhere.exe"), kColourUnknown);
    // The shared scratch sets are left alone (released).
    EXPECT_FALSE(modEnumProcess::g_rsUser);
    EXPECT_FALSE(modEnumProcess::g_rsMain);
}

TEST_F(KnowledgeColour, TheMakersFileReadsOnlyAnExactYAsDanger) {
    MakerFile({{L"lower.exe", L"y"}, {L"null.exe", std::nullopt}, {L"other.exe", L"X"}, {L"virus.exe", L"Y"},
               {L"o'neil.exe", L"Y"}, {L"", L"Y"}, {L"病毒.exe", L"Y"}});
    UserFile({});
    EXPECT_EQ(GetProcessListColor(L"lower.exe"), kColourKnown);
    EXPECT_EQ(GetProcessListColor(L"null.exe"), kColourKnown);
    EXPECT_EQ(GetProcessListColor(L"other.exe"), kColourKnown);
    EXPECT_EQ(GetProcessListColor(L"virus.exe"), kColourDangerous);
    EXPECT_EQ(GetProcessListColor(L"o'neil.exe"), kColourDangerous);  // a quote in the name
    EXPECT_EQ(GetProcessListColor(L"病毒.exe"), kColourDangerous);
    EXPECT_EQ(GetProcessListColor(L""), kColourDangerous);  // an empty name queries the maker's file
    // Names compare as Jet compares text: without regard to case.
    EXPECT_EQ(GetProcessListColor(L"VIRUS.EXE"), kColourDangerous);
}

TEST_F(KnowledgeColour, MissingOrClosedFilesNeverFail) {
    MakerFile({{L"virus.exe", L"Y"}});
    EXPECT_EQ(GetProcessListColor(L"virus.exe"), kColourDangerous);  // no user file: the maker's decides
    EXPECT_EQ(GetProcessListColor(L"other.exe"), kColourUnknown);
    modEnumProcess::g_dbMain.reset();
    UserFile({{L"mine.exe", L"Y"}});
    EXPECT_EQ(GetProcessListColor(L"mine.exe"), kColourDangerous);  // no maker's file
    EXPECT_EQ(GetProcessListColor(L"virus.exe"), kColourUnknown);
    modEnumProcess::g_dbUser->Close();
    EXPECT_EQ(GetProcessListColor(L"mine.exe"), kColourUnknown);  // a failed query finds nothing
}

TEST_F(KnowledgeColour, ABadKeyLooksTheNameUpUnenciphered) {
    MakerFile({{L"virus.exe", L"Y"}});
    modEnDeCryption::g_cipherKey = L"not-a-key";
    EXPECT_EQ(GetProcessListColor(L"virus.exe"), kColourUnknown);
}

TEST_F(KnowledgeColour, TheStartUpOpensKeepOtherOpensOut) {
    MakerFile({});
    UserFile({});
    for (const wchar_t* file : {L"db.mdb", L"userdb.mdb"}) {
        try {
            dao::DBEngine::OpenDatabase((dir_ / file).wstring(), false, true, L";pwd=" + kPassword);
            ADD_FAILURE() << "opened a file held exclusively";
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.Number(), 3045);
        }
    }
}
