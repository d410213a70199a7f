#pragma once
// What the action and toolbar tests share: the real main window (through the
// list view tests' fixture), helper processes as rows of it, and a way to act
// while a message box is up.
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_listview_fixture.h"

namespace acttest {

using namespace mwtest;
using testsupport::Child;

constexpr unsigned long kGrey = 0xA8A8A8, kWindowText = 0x80000008, kBlue = 0xFF0000, kBlack = 0;
constexpr unsigned long kDisabled = 0xC0C0C0, kButtonText = 0x80000012, kHighlight = 0x8000000D;
const std::wstring kPause = L"暂停进程", kResume = L"恢复进程";

// A fresh list that has the helpers' rows; timers stay off, so rows are ours.
inline void Refresh() {
    StopTimers();
    Form().mnuListRefresh_Click();
}

inline void SelectOnly(DWORD pid) {
    int i = Row(pid);
    ASSERT_GT(i, 0) << pid;
    List().Select(i);
}

inline void SelectAlso(DWORD pid) {
    int i = Row(pid);
    ASSERT_GT(i, 0) << pid;
    List().Select(i, false);
}

// The line a confirmation or failure list shows for a row: name [pid] LF.
inline std::wstring Line(DWORD pid) {
    int i = Row(pid);
    return List().Text(i) + L" [" + std::to_wstring(pid) + L"]\n";
}

// Runs action when a message box of this thread comes up, before the box is
// answered (the hook sits in front of MessageBoxAnswerer's, so create it after
// the answerer).
class WhileBoxUp {
public:
    explicit WhileBoxUp(std::function<void()> action) : action_(std::move(action)) {
        current() = this;
        hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~WhileBoxUp() {
        UnhookWindowsHookEx(hook_);
        current() = nullptr;
    }
    WhileBoxUp(const WhileBoxUp&) = delete;
    WhileBoxUp& operator=(const WhileBoxUp&) = delete;

private:
    static WhileBoxUp*& current() {
        static WhileBoxUp* c = nullptr;
        return c;
    }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current()) {
            wchar_t cls[16] = {};
            GetClassNameW(reinterpret_cast<HWND>(wParam), cls, 16);
            if (std::wstring(cls) == L"#32770" && current()->action_) {
                auto action = std::move(current()->action_);  // once
                action();
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    std::function<void()> action_;
    HHOOK hook_ = nullptr;
};

// Answers this thread's boxes as the user does, with a real Enter 200 ms after
// each opens; in the first box a timer runs `inside` just before the key.  The
// boxes' texts are recorded.  A box still up after 8 s is answered by a
// posted OK and fails the test: a key that went astray must neither hang the
// test nor pass as the user's answer.
class EnterInBoxes {
public:
    explicit EnterInBoxes(std::function<void()> inside) : inside_(std::move(inside)) {
        current() = this;
        hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
        watchdog_ = std::thread([this] {
            HWND seen = nullptr;
            DWORD since = 0;
            for (; !stop_; Sleep(100)) {
                HWND box = open_;
                if (box != seen) seen = box, since = GetTickCount();
                if (box && IsWindow(box) && GetTickCount() - since > 8000) {
                    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                    ++watchdogAnswers_;
                    since = GetTickCount();
                }
            }
        });
    }
    ~EnterInBoxes() {
        stop_ = true;
        watchdog_.join();
        UnhookWindowsHookEx(hook_);
        current() = nullptr;
        EXPECT_EQ(watchdogAnswers_.load(), 0) << "a box was not answered by Enter but by the watchdog after 8 s";
    }
    EnterInBoxes(const EnterInBoxes&) = delete;
    EnterInBoxes& operator=(const EnterInBoxes&) = delete;
    const std::vector<std::wstring>& Texts() const { return texts_; }

private:
    static EnterInBoxes*& current() {
        static EnterInBoxes* c = nullptr;
        return c;
    }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        HWND w = reinterpret_cast<HWND>(wParam);
        wchar_t cls[16] = {};
        if (code == HCBT_ACTIVATE && current() && GetClassNameW(w, cls, 16) && std::wstring(cls) == L"#32770" &&
            !GetPropW(w, L"MorvixTest.Enter")) {
            SetPropW(w, L"MorvixTest.Enter", reinterpret_cast<HANDLE>(1));  // one key per box
            current()->open_ = w;
            current()->texts_.push_back(ui::GetText(GetDlgItem(w, 0xFFFF)));
            SetTimer(w, 0x454E, 200, Press);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static void CALLBACK Press(HWND box, UINT, UINT_PTR id, DWORD) {
        KillTimer(box, id);
        if (EnterInBoxes* self = current())
            if (auto inside = std::exchange(self->inside_, nullptr)) inside();  // once
        SetForegroundWindow(box);
        testsupport::PressKey(VK_RETURN);
    }
    std::function<void()> inside_;
    std::vector<std::wstring> texts_;
    std::atomic<HWND> open_{nullptr};
    std::atomic<bool> stop_{false};
    std::atomic<int> watchdogAnswers_{0};
    HHOOK hook_ = nullptr;
    std::thread watchdog_;
};

// A copy of the helper program under another name, in a folder of the test.
inline std::wstring CopyOfChild(const testsupport::TempDir& dir, const std::wstring& name) {
    std::wstring path = dir.File(name);
    std::filesystem::copy_file(testsupport::TestChildPath(), path,
                               std::filesystem::copy_options::overwrite_existing);
    return path;
}

inline bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

const std::wstring kEndWarning = L"结束进程可能会导致数据丢失或系统不稳定！  \n";
const std::wstring kPauseWarning = L"暂停进程可能会导致程序或系统出错。  \n";

// The action tests' fixture: the window up, its timers off, our rows and the
// selection gone afterwards.
class Actions : public ::testing::Test {
protected:
    void SetUp() override {
        Form();
        StopTimers();
    }
    void TearDown() override {
        for (DWORD pid : {999991u, 999992u}) RemoveRow(pid);
        List().Select(0);
    }
    static void ExpectBox(const testsupport::BoxRecord& box, const std::wstring& text, UINT icon) {
        EXPECT_EQ(box.title, L"提示");
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.icon, icon);
    }
};

}  // namespace acttest
