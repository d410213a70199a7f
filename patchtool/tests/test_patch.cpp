// The patch tool in a Wine prefix made for this test alone (fresh_prefix.sh):
// the system folder it writes into and the service it switches on are the
// prefix's own.  The test program carries stand-ins in place of the runtime
// files: a component whose registration leaves a marker, one whose
// registration fails, and a file that is no program at all.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsvc.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "patchtool/PatchSteps.h"
#include "patchtool/frmMorvixPatch.h"
#include "platform/win/Text.h"
#include "tests/helpers/TestSupport.h"

namespace {

using namespace patch;
using Bytes = std::vector<BYTE>;

constexpr uint64_t kStandinVersion = 0x0001000000000000ull;  // 1.0.0.0

Bytes ReadAll(const std::wstring& path) {
    win::FileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    Bytes bytes;
    if (!f) return bytes;
    bytes.resize(GetFileSize(f.get(), nullptr));
    DWORD got = 0;
    ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

void WriteAll(const std::wstring& path, const Bytes& bytes) {
    win::FileHandle f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD wrote = 0;
    ASSERT_TRUE(f && WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr));
}

Bytes Carried(int id) {
    auto span = CarriedFile(GetModuleHandleW(nullptr), id);
    return span ? Bytes(span->begin(), span->end()) : Bytes{};
}

std::wstring InSystem(const wchar_t* name) { return SystemFolder() + L"\\" + name; }

// A carried image with another file version, standing for an older copy
// already in the system folder.
Bytes WithVersion(Bytes image, uint64_t version) {
    const DWORD signature = 0xFEEF04BD;
    for (size_t at = 0; at + 16 <= image.size(); ++at) {
        if (std::memcmp(image.data() + at, &signature, 4) != 0) continue;
        DWORD ms = static_cast<DWORD>(version >> 32), ls = static_cast<DWORD>(version);
        std::memcpy(image.data() + at + 8, &ms, 4);
        std::memcpy(image.data() + at + 12, &ls, 4);
        break;
    }
    return image;
}

FILETIME LastWrite(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

int TemporaryFilesLeft() {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((SystemFolder() + L"\\mxp*.tmp").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileW(h, &found));
    FindClose(h);
    return n;
}

std::wstring Marker(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\MorvixPatchTest", name, RRF_RT_REG_SZ, nullptr, value, &size))
        return {};
    return value;
}

struct ServiceState {
    DWORD startType = 0;
    DWORD state = 0;
};
ServiceState ReadService(const wchar_t* name) {
    ServiceState s;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    BYTE buffer[8192];
    DWORD needed = 0;
    if (service && QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer), sizeof buffer, &needed))
        s.startType = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer)->dwStartType;
    SERVICE_STATUS status{};
    if (service && QueryServiceStatus(service, &status)) s.state = status.dwCurrentState;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return s;
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// The window posts the program's quit when it goes; the test program goes on.
struct WindowForTest {
    frmMorvixPatch form;
    ~WindowForTest() {
        if (form.Hwnd()) DestroyWindow(form.Hwnd());
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
};

// Guarded: writing into a system folder is only for the prefix made for it.
class PatchInFreshPrefix : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t flag[8] = {};
        if (!GetEnvironmentVariableW(L"MORVIX_PATCH_FRESH_PREFIX", flag, 8) || std::wcscmp(flag, L"1") != 0)
            GTEST_SKIP() << "writes into the system folder: runs only in a prefix of its own (fresh_prefix.sh)";
    }
};

TEST_F(PatchInFreshPrefix, ApplyThroughTheWindowReportsEveryStepsRealResult) {
    // Already present: Wine's own comctl32.dll (newer than the stand-in) and an
    // older copy of the marker component where COMCTL32.OCX goes.
    const Bytes winesComctl = ReadAll(InSystem(L"comctl32.dll"));
    ASSERT_FALSE(winesComctl.empty());
    WriteAll(InSystem(L"COMCTL32.OCX"), WithVersion(Carried(102), 0x0000000500000000ull));
    ASSERT_EQ(ReadService(kTerminalService).startType, static_cast<DWORD>(SERVICE_DEMAND_START));

    WindowForTest window;
    frmMorvixPatch& form = window.form;
    ASSERT_TRUE(form.Show(SW_SHOWNORMAL));
    testsupport::MessageBoxAnswerer answerer;
    SendMessageW(form.Control(frmMorvixPatch::idCmdOK), BM_CLICK, 0, 0);
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    const std::wstring report = answerer.Boxes()[0].text;
    EXPECT_EQ(answerer.Boxes()[0].title, L"提示");
    EXPECT_EQ(answerer.Boxes()[0].icon, static_cast<UINT>(MB_ICONINFORMATION));

    // Files: written when missing or older, kept when the system's is newer.
    EXPECT_EQ(ReadAll(InSystem(L"sc.exe")), Carried(105));  // Wine's has no version
    EXPECT_EQ(ReadAll(InSystem(L"comctl32.dll")), winesComctl);
    EXPECT_EQ(ReadAll(InSystem(L"COMCTL32.OCX")), Carried(102));
    EXPECT_EQ(ReadAll(InSystem(L"dao360.DLL")), Carried(103));
    EXPECT_EQ(ReadAll(InSystem(L"MSCOMCTL.OCX")), Carried(104));
    EXPECT_EQ(TemporaryFilesLeft(), 0);
    EXPECT_EQ(FileVersion(InSystem(L"COMCTL32.OCX")), kStandinVersion);

    // Registration: the marker of the good component, the failures reported.
    EXPECT_EQ(Marker(L"COMCTL32.OCX"), InSystem(L"COMCTL32.OCX"));
    EXPECT_EQ(Marker(L"dao360.DLL"), L"");

    const ServiceState service = ReadService(kTerminalService);
    EXPECT_EQ(service.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(service.state, static_cast<DWORD>(SERVICE_RUNNING));

    EXPECT_FALSE(Contains(report, kSuccessText)) << report;
    for (const wchar_t* line : {L"写入 sc.exe：成功，已替换旧版本", L"写入 comctl32.dll：成功，系统中的版本 5.",
                                L"写入 COMCTL32.OCX：成功，已替换旧版本（版本 1.0.0.0）",
                                L"写入 dao360.DLL：成功，已写入", L"写入 MSCOMCTL.OCX：成功，已写入",
                                L"注册 comctl32.dll：成功，此文件不需要注册（regsvr32 退出码 4",
                                L"注册 COMCTL32.OCX：成功，已注册",
                                L"注册 dao360.DLL：失败，regsvr32 退出码 5：注册函数执行失败",
                                L"注册 MSCOMCTL.OCX：失败，regsvr32 退出码 3：无法加载此文件",
                                L"将服务 TermService 设为自动启动：成功，启动类型读回为“自动”",
                                L"启动服务 TermService：成功，已启动"})
        EXPECT_TRUE(Contains(report, line)) << "missing: " << win::ToUtf8(line) << "\nin: " << win::ToUtf8(report);
    EXPECT_TRUE(IsWindowEnabled(form.Control(frmMorvixPatch::idCmdOK)));
}

TEST_F(PatchInFreshPrefix, ApplyingAgainRewritesNothing) {
    ApplyPatch(GetModuleHandleW(nullptr));
    std::vector<FILETIME> before;
    for (const Component& c : kComponents) before.push_back(LastWrite(InSystem(c.fileName)));
    Sleep(50);
    std::vector<StepResult> again = ApplyPatch(GetModuleHandleW(nullptr));
    for (size_t i = 0; i < std::size(kComponents); ++i) {
        FILETIME now = LastWrite(InSystem(kComponents[i].fileName));
        EXPECT_EQ(CompareFileTime(&before[i], &now), 0) << win::ToUtf8(kComponents[i].fileName);
        EXPECT_TRUE(again[i].ok) << win::ToUtf8(again[i].detail);
    }
    EXPECT_TRUE(Contains(again[1].detail, L"不旧于")) << win::ToUtf8(again[1].detail);  // Wine's comctl32.dll
    EXPECT_EQ(again[2].detail, L"系统中已是相同的文件");
    EXPECT_EQ(again.back().detail, L"服务已在运行");
}

TEST_F(PatchInFreshPrefix, AnOlderFileInUseIsReportedAndKeptWhole) {
    const std::wstring target = InSystem(L"dao360.DLL");
    const Bytes older = WithVersion(Carried(103), 0x0000000100000000ull);
    WriteAll(target, older);
    win::FileHandle inUse(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(inUse);
    StepResult r = InstallComponent(GetModuleHandleW(nullptr), kComponents[3], target);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(Contains(r.detail, L"无法替换旧文件")) << win::ToUtf8(r.detail);
    inUse.reset();
    EXPECT_EQ(ReadAll(target), older);
    EXPECT_EQ(TemporaryFilesLeft(), 0);

    // A folder where the file should be is reported, not written into.
    const std::wstring folder = InSystem(L"MSCOMCTL.OCX");
    DeleteFileW(folder.c_str());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    r = InstallComponent(GetModuleHandleW(nullptr), kComponents[4], folder);
    RemoveDirectoryW(folder.c_str());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.detail, L"目标位置是一个文件夹，未写入");
}

TEST(PatchReport, SuccessOnlyWhenEveryStepSucceededAndSomethingIsCarried) {
    std::vector<StepResult> steps{{L"写入 sc.exe", true, L"已写入"}, {L"启动服务 TermService", true, L"服务已在运行"}};
    std::wstring text = ComposeReport(steps, true);
    EXPECT_EQ(text.rfind(kSuccessText, 0), 0u);
    EXPECT_TRUE(Contains(text, L"\r\n启动服务 TermService：成功，服务已在运行"));

    steps[1].ok = false;
    EXPECT_FALSE(Contains(ComposeReport(steps, true), kSuccessText));
    steps[1].ok = true;
    text = ComposeReport(steps, false);
    EXPECT_FALSE(Contains(text, kSuccessText));
    EXPECT_TRUE(Contains(text, L"没有携带任何组件"));
}

TEST(PatchPayload, AModuleWithoutPayloadCarriesNothing) {
    HMODULE bare = GetModuleHandleW(L"kernel32.dll");
    EXPECT_FALSE(CarriesAnyComponent(bare));
    EXPECT_TRUE(CarriesAnyComponent(GetModuleHandleW(nullptr)));
    testsupport::TempDir dir;
    StepResult r = InstallComponent(bare, kComponents[1], dir.File(L"comctl32.dll"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.detail, L"本程序没有携带此文件");
    EXPECT_EQ(GetFileAttributesW(dir.File(L"comctl32.dll").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(PatchPayload, VersionReadFromCarriedBytesMatchesTheWrittenFile) {
    EXPECT_EQ(ImageVersion(Carried(102)), kStandinVersion);
    EXPECT_EQ(ImageVersion(Carried(104)), std::nullopt);  // not a program
    testsupport::TempDir dir;
    StepResult r = InstallComponent(GetModuleHandleW(nullptr), kComponents[2], dir.File(L"x.ocx"));
    ASSERT_TRUE(r.ok) << win::ToUtf8(r.detail);
    EXPECT_EQ(FileVersion(dir.File(L"x.ocx")), kStandinVersion);
    EXPECT_EQ(VersionText(0x0005005200010002ull), L"5.82.1.2");
}

// regsvr32 itself, in a folder of its own, on a library without a
// registration entry under each registered component's name.
TEST(PatchRegistration, OnlyTheCommonControlsLibraryMayLackARegistrationEntry) {
    testsupport::TempDir dir;
    ASSERT_TRUE(CopyFileW(InSystem(L"regsvr32.exe").c_str(), dir.File(L"regsvr32.exe").c_str(), FALSE));
    for (const Component& c : kComponents) {
        if (!c.registered) continue;
        ASSERT_TRUE(CopyFileW(testsupport::TestChildDllPath().c_str(), dir.File(c.fileName).c_str(), FALSE));
        StepResult r = RegisterComponent(dir.Path(), c);
        EXPECT_EQ(r.ok, std::wstring(c.fileName) == L"comctl32.dll") << win::ToUtf8(r.detail);
        EXPECT_TRUE(Contains(r.detail, Regsvr32ExitText(4))) << win::ToUtf8(r.detail);
        EXPECT_EQ(Contains(ComposeReport({r}, true), kSuccessText), r.ok);
    }
    // A run whose exit code could not be read is no success either.
    StepResult unread = RegistrationResult(kComponents[1], {.started = true, .error = ERROR_ACCESS_DENIED});
    EXPECT_FALSE(unread.ok);
    EXPECT_TRUE(Contains(unread.detail, L"无法读取 regsvr32 的退出码")) << win::ToUtf8(unread.detail);
}

TEST(PatchCommands, ACommandThatDoesNotEndInTimeIsEndedAndReported) {
    CommandOutcome missing = RunHidden(SystemFolder() + L"\\no-such-program.exe", L"", 1000);
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    const ULONGLONG t0 = GetTickCount64();
    CommandOutcome hung = RunHidden(testsupport::TestChildPath(), L"", 700);
    EXPECT_TRUE(hung.started);
    EXPECT_TRUE(hung.timedOut);
    EXPECT_LT(GetTickCount64() - t0, 6000u);
}

}  // namespace
