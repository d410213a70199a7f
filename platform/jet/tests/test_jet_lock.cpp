// Exclusive open: while one connection holds a file, a second open fails,
// from this process or from another one.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "platform/jet/tests/JetTestSupport.h"

using namespace jettest;

namespace {

std::filesystem::path OwnFolder() {
#ifdef _WIN32
    wchar_t buf[MAX_PATH];
    GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return std::filesystem::path(buf).parent_path();
#else
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
#endif
}

// Runs the probe in a child process with (file, modes) pairs; returns its
// exit code (bit i: attempt i found the file in use).
int ProbeInChild(const std::vector<std::wstring>& fileModePairs) {
#ifdef _WIN32
    std::wstring exe = (OwnFolder() / L"jet_open_probe.exe").wstring();
    std::vector<std::wstring> quoted{L"\"" + exe + L"\""};
    for (const auto& a : fileModePairs) quoted.push_back(L"\"" + a + L"\"");
    std::vector<const wchar_t*> args;
    for (const auto& q : quoted) args.push_back(q.c_str());
    args.push_back(nullptr);
    return int(_wspawnv(_P_WAIT, exe.c_str(), args.data()));
#else
    std::string exe = (OwnFolder() / "jet_open_probe").string();
    std::vector<std::string> narrow;
    for (const auto& a : fileModePairs) narrow.push_back(jet::ToUtf8(a));
    std::vector<char*> args{exe.data()};
    for (auto& a : narrow) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

long OpenError(const std::wstring& path, bool exclusive, bool readOnly) {
    return ErrorOf([&] { jet::Database::Open(path, {.exclusive = exclusive, .readOnly = readOnly}); });
}

}  // namespace

TEST(JetExclusiveOpen, SecondOpenInThisProcessFailsUntilTheFirstCloses) {
    TempFolder dir;
    std::wstring path = CopySample(L"delTestV2000.mdb", dir);
    jet::OpenOptions exclusive;
    exclusive.exclusive = true;
    auto first = jet::Database::Open(path, exclusive);
    EXPECT_EQ(OpenError(path, true, false), jet::err::FileInUse);
    EXPECT_EQ(OpenError(path, false, true), jet::err::FileInUse);
    EXPECT_EQ(OpenError(path, false, false), jet::err::FileInUse);
    first.reset();
    EXPECT_EQ(OpenError(path, true, false), 0);
}

TEST(JetExclusiveOpen, SharedReadersCoexistButKeepWritersOut) {
    TempFolder dir;
    std::wstring path = CopySample(L"delTestV2000.mdb", dir);
    jet::OpenOptions reader;
    reader.readOnly = true;
    auto a = jet::Database::Open(path, reader);
    auto b = jet::Database::Open(path, reader);
    EXPECT_EQ(b->OpenTable(L"Table").LiveRowCount(), 2u);
    EXPECT_EQ(OpenError(path, true, false), jet::err::FileInUse);
    EXPECT_EQ(OpenError(path, false, false), jet::err::FileInUse);
}

TEST(JetExclusiveOpen, AnotherProcessIsKeptOutWhileTheFileIsHeld) {
    TempFolder dir;
    std::wstring held = CopySample(L"delTestV2000.mdb", dir);
    std::wstring shared = dir.File(L"shared.mdb");
    WriteAll(shared, ReadAll(held));
    std::wstring created = dir.File(L"created.mdb");
    jet::OpenOptions exclusive;
    exclusive.exclusive = true;
    jet::OpenOptions reader;
    reader.readOnly = true;
    auto holder = jet::Database::Open(held, exclusive);
    auto sharer = jet::Database::Open(shared, reader);
    auto creator = jet::Database::Create(created);
    // One child tries, in order: the held file in all three modes (refused),
    // the shared file read-only (allowed) and for writing (refused), and the
    // file just created (refused).
    EXPECT_EQ(ProbeInChild({held, L"xwr", shared, L"rw", created, L"r"}), 0b110111);
    holder.reset();
    sharer.reset();
    creator.reset();
    EXPECT_EQ(ProbeInChild({held, L"x", shared, L"w", created, L"x"}), 0);
}
