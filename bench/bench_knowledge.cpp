// Knowledge-base benchmark (never run as a test).  Builds a 10,000-entry
// db.mdb the way the shipped one is built (enciphered, with the password) and
// a user file of 100 entries, then measures:
//   - opening db.mdb as start-up does (exclusive, ";pwd="), median of 21;
//   - the first lookup after opening (it builds the in-memory name index);
//   - one colour lookup: median and 90th percentile over 10,000 lookups
//     (half of them names of the maker's file, a quarter the user's, a
//     quarter unknown);
//   - a refresh that adds 200 rows: 200 lookups of names not looked up before.
// The cross build measures the program's own GetProcessListColor (run it
// under Wine); the host build has no Windows, so it times the same two
// queries through the same DAO layer.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "sysaccess/modEnDeCryption.h"
#include "tools/KnowledgeFiles.h"

#ifdef _WIN32
#include "sysaccess/KnowledgeBase.h"
#include "sysaccess/modEnumProcess.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
const std::wstring kKey = L"46120573";
const std::wstring kPassword = L"tqvnal527184wodrk";

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

dao::DatabasePtr g_main, g_user;

#ifdef _WIN32
long Colour(const std::wstring& name) { return modEnumProcess::GetProcessListColor(name); }
void Attach() {
    modEnumProcess::g_dbMain = g_main;
    modEnumProcess::g_dbUser = g_user;
    modEnDeCryption::g_cipherKey = kKey;
}
#else
// The colour lookup's two queries, as the program makes them.
long Colour(const std::wstring& name) {
    auto query = [](const dao::DatabasePtr& db, const std::wstring& n) {
        return db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = " + dao::SqlQuote(n));
    };
    auto user = query(g_user, name);
    if (user->RecordCount() != 0) {
        auto v = user->Fields(L"Virus");
        if (v == L"N") return 0;
        if (v == L"Y") return 255;
    }
    auto main = query(g_main, modEnDeCryption::Encrypt(name, kKey));
    if (main->RecordCount() == 0) return 0xFF0000;
    return main->Fields(L"Virus") == L"Y" ? 255 : 0;
}
void Attach() {}
#endif

std::wstring Name(const wchar_t* prefix, int i) { return prefix + std::to_wstring(i) + L".exe"; }

}  // namespace

int main() {
    auto dir = std::filesystem::temp_directory_path() / L"morvix-bench-knowledge";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::wstring dbPath = (dir / L"db.mdb").wstring(), userPath = (dir / L"userdb.mdb").wstring();

    knowledge::Source source;
    source.version = L"2008-05-09";
    for (int i = 0; i < 10000; ++i)
        source.entries.push_back({Name(L"process", i), L"基准测试用的进程描述，长度与真实条目相当", i % 10 ? L"N" : L"Y"});
    auto started = Clock::now();
    knowledge::WriteMakerFile(dbPath, source,
                              [](const std::wstring& t) { return modEnDeCryption::Encrypt(t, kKey); }, kPassword);
    double buildMs = Micros(Clock::now() - started) / 1000;
    knowledge::EnsureUserFile(userPath);
    {
        auto user = dao::DBEngine::OpenDatabase(userPath, true, false);
        auto rs = user->OpenRecordset(L"SELECT * FROM Process");
        for (int i = 0; i < 100; ++i) {
            rs->AddNew();
            rs->SetField(L"ProcessName", Name(L"mine", i));
            rs->SetField(L"Description", L"用户条目");
            rs->SetField(L"Virus", i % 2 ? L"N" : L"Y");
            rs->Update();
        }
    }

    std::vector<double> opens;
    for (int i = 0; i < 21; ++i) {
        auto t = Clock::now();
        auto db = dao::DBEngine::OpenDatabase(dbPath, true, false, L";pwd=" + kPassword);
        opens.push_back(Micros(Clock::now() - t));
    }

    auto t0 = Clock::now();
    g_main = dao::DBEngine::OpenDatabase(dbPath, true, false, L";pwd=" + kPassword);
    g_user = dao::DBEngine::OpenDatabase(userPath, true, false);
    Attach();
    auto t1 = Clock::now();
    long first = Colour(L"explorer.exe");
    auto t2 = Clock::now();

    std::vector<double> lookups;
    long long checksum = first;
    for (int i = 0; i < 10000; ++i) {
        std::wstring n = i % 2 ? Name(L"process", (i * 7919) % 10000)
                               : i % 4 ? Name(L"mine", i % 100) : Name(L"unknown", i);
        auto t = Clock::now();
        checksum += Colour(n);
        lookups.push_back(Micros(Clock::now() - t));
    }

    auto r0 = Clock::now();
    for (int i = 0; i < 200; ++i) checksum += Colour(Name(i % 3 ? L"process" : L"fresh", 5000 + i));
    double refreshMs = Micros(Clock::now() - r0) / 1000;

    std::printf("db.mdb with %zu entries built in %.1f ms (%ju bytes)\n", source.entries.size(), buildMs,
                std::uintmax_t(std::filesystem::file_size(dbPath)));
    std::printf("open db.mdb (exclusive, password):   median %.2f ms\n", Median(opens) / 1000);
    std::printf("open both files + first lookup:       %.2f ms + %.2f ms (builds the name index)\n",
                Micros(t1 - t0) / 1000, Micros(t2 - t1) / 1000);
    std::printf("GetProcessListColor, 10,000 lookups:  median %.2f us, 90th percentile %.2f us\n", Median(lookups),
                Percentile(lookups, 0.9));
    std::printf("refresh adding 200 rows:              %.3f ms in colour lookups\n", refreshMs);
    std::printf("(checksum %lld)\n", checksum);
    g_main.reset();
    g_user.reset();
#ifdef _WIN32
    modEnumProcess::g_dbMain.reset();
    modEnumProcess::g_dbUser.reset();
#endif
    std::filesystem::remove_all(dir);
    return 0;
}
