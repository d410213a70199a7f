// The module list of real child processes, read into a real list box.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/vb/VbError.h"
#include "sysaccess/modEnumModules.h"
#include "tests/helpers/TestSupport.h"

using testsupport::Child;

namespace {

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

class ModuleListTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        list_ = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | LBS_NOINTEGRALHEIGHT, 0, 0, 380, 280,
                                host_, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    void TearDown() override { DestroyWindow(host_); }

    std::vector<std::wstring> Lines() const {
        std::vector<std::wstring> out;
        int n = static_cast<int>(SendMessageW(list_, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            std::wstring s(static_cast<size_t>(SendMessageW(list_, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
            s.resize(static_cast<size_t>(SendMessageW(list_, LB_GETTEXT, i, reinterpret_cast<LPARAM>(s.data()))));
            out.push_back(s);
        }
        return out;
    }
    static bool Contains(const std::vector<std::wstring>& lines, const std::wstring& path) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::wstring& l) { return Lower(l) == Lower(path); });
    }

    HWND host_ = nullptr;
    HWND list_ = nullptr;
};

}  // namespace

TEST_F(ModuleListTest, ListsTheLoadedDllButNotTheExecutable) {
    Child child(L"--load-dll \"" + testsupport::TestChildDllPath() + L"\"");
    ASSERT_TRUE(child.WaitReady());
    modEnumModules::ListProcessModules(static_cast<long>(child.Pid()), list_);
    auto lines = Lines();
    EXPECT_TRUE(Contains(lines, testsupport::TestChildDllPath())) << "the DLL the helper loaded";
    EXPECT_FALSE(Contains(lines, testsupport::TestChildPath())) << "the executable itself is never listed";
    for (const auto& l : lines) EXPECT_NE(l.find(L'\\'), std::wstring::npos) << "full paths: " << l.size();
}

TEST_F(ModuleListTest, SecondCallReplacesTheLines) {
    Child child(L"--load-dll \"" + testsupport::TestChildDllPath() + L"\"");
    ASSERT_TRUE(child.WaitReady());
    modEnumModules::ListProcessModules(static_cast<long>(child.Pid()), list_);
    auto first = Lines();
    ASSERT_FALSE(first.empty());
    modEnumModules::ListProcessModules(static_cast<long>(child.Pid()), list_);
    EXPECT_EQ(Lines(), first);
}

TEST_F(ModuleListTest, ProcessesWithoutReadableModulesEmptyTheList) {
    Child child(L"--load-dll \"" + testsupport::TestChildDllPath() + L"\"");
    ASSERT_TRUE(child.WaitReady());
    long pid = static_cast<long>(child.Pid());
    modEnumModules::ListProcessModules(pid, list_);
    ASSERT_FALSE(Lines().empty());

    // The idle process: a module snapshot of 0 would list the tool's own modules.
    modEnumModules::ListProcessModules(0, list_);
    EXPECT_TRUE(Lines().empty());

    modEnumModules::ListProcessModules(pid, list_);
    child.Kill();
    modEnumModules::ListProcessModules(pid, list_);
    EXPECT_TRUE(Lines().empty()) << "an exited process";
}

TEST_F(ModuleListTest, OwnProcessListsItsModulesWithoutTheExecutable) {
    auto modules = modEnumModules::GetProcessModules(static_cast<long>(GetCurrentProcessId()));
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_FALSE(Contains(modules, self));
    wchar_t kernel[MAX_PATH];
    GetModuleFileNameW(GetModuleHandleW(L"kernel32.dll"), kernel, MAX_PATH);
    EXPECT_TRUE(Contains(modules, kernel));
}

TEST_F(ModuleListTest, MissingListBoxIsARunTimeError) {
    try {
        modEnumModules::ListProcessModules(static_cast<long>(GetCurrentProcessId()), nullptr);
        FAIL() << "no error";
    } catch (const vb::Error& e) {
        EXPECT_EQ(e.Number(), 91);
    }
}
