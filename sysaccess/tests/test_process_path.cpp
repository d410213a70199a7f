// The one image-path reader: where the module functions cannot read a process
// (here: a process created suspended, whose loader has not listed a module
// yet, as for a 64-bit process seen from the 32-bit program), the kernel's
// image name still gives the path, and with it the row's icon.
#include <gtest/gtest.h>

#include "sysaccess/tests/ListFixture.h"

#include <psapi.h>

#include "tests/helpers/TestSupport.h"

namespace {

std::wstring Lower(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

// TestChild.exe started suspended; ended at destruction.
class SuspendedChild {
public:
    SuspendedChild() {
        STARTUPINFOW si{sizeof si};
        std::wstring command = L"\"" + testsupport::TestChildPath() + L"\"";
        if (CreateProcessW(testsupport::TestChildPath().c_str(), command.data(), nullptr, nullptr, FALSE,
                           CREATE_SUSPENDED, nullptr, nullptr, &si, &pi_)) {
            CloseHandle(pi_.hThread);
            pi_.hThread = nullptr;
        }
    }
    ~SuspendedChild() {
        if (!pi_.hProcess) return;
        TerminateProcess(pi_.hProcess, 0);
        WaitForSingleObject(pi_.hProcess, 5000);
        CloseHandle(pi_.hProcess);
    }
    SuspendedChild(const SuspendedChild&) = delete;
    SuspendedChild& operator=(const SuspendedChild&) = delete;
    DWORD Pid() const { return pi_.dwProcessId; }

private:
    PROCESS_INFORMATION pi_{};
};

// True when the module functions cannot read the process: what the fallback is for.
bool ModulesUnreadable(DWORD pid) {
    win::Handle h(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    HMODULE modules[4] = {};
    DWORD needed = 0;
    return !h || !EnumProcessModules(h.get(), modules, sizeof modules, &needed);
}

using ProcessPathTest = ProcessListTest;

}  // namespace

TEST_F(ProcessPathTest, AProcessTheModuleFunctionsCannotReadStillHasItsPathAndIcon) {
    SuspendedChild child;
    ASSERT_NE(child.Pid(), 0u);
    if (!ModulesUnreadable(child.Pid())) GTEST_SKIP() << "this system lists the modules of a suspended process";

    const std::wstring expected = Lower(testsupport::TestChildPath());
    EXPECT_EQ(Lower(modEnumProcess::GetProcessImagePath(static_cast<long>(child.Pid()))), expected);
    EXPECT_EQ(Lower(modEnumProcess::GetProcessPath(static_cast<long>(child.Pid()))), expected);

    Refresh();
    int i = Row(child.Pid());
    ASSERT_NE(i, 0);
    EXPECT_EQ(Lower(list.SubItem(i, 6)), expected);
    EXPECT_EQ(list.Text(i), L"TestChild.exe");
    EXPECT_GE(list.SmallIcon(i), 0);
}
