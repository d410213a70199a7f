#pragma once
// A real list view on a hidden window, and an owner whose options and colour
// source a test controls, for driving the process-list refresh.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "platform/ui/ListView.h"
#include "sysaccess/modEnumProcess.h"

class FakeOwner : public modEnumProcess::ProcessListOwner {
public:
    bool autoKill = false;
    std::function<long(const std::wstring&)> colour = [](const std::wstring&) { return 0xFF0000L; };
    std::vector<std::wstring> ids;
    HWND window = nullptr;

    bool AutoKillOn() const override { return autoKill; }
    std::vector<std::wstring>& PreviousPassIds() override { return ids; }
    HWND MainWindow() const override { return window; }
    long KnowledgeColour(const std::wstring& name) override { return colour(name); }

    // A system without the Terminal Services list, and processes that refuse
    // some accesses (nullptr from refuse: the real OpenProcess).
    bool terminalServices = true;
    std::function<bool(DWORD access, DWORD pid)> refuse;
    bool EnumerateSessionProcesses(WTS_PROCESS_INFOW** records, DWORD* count) override {
        return terminalServices && ProcessListOwner::EnumerateSessionProcesses(records, count);
    }
    HANDLE OpenProcessForList(DWORD access, DWORD pid) override {
        if (refuse && refuse(access, pid)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return ProcessListOwner::OpenProcessForList(access, pid);
    }
};

class ProcessListTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 900, 500, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        list.Create(window_, 1, RECT{0, 0, 880, 480});
        const wchar_t* headers[] = {L"进程名称", L"用户名", L"PID", L"CPU(%)", L"内存(KB)", L"优先级", L"进程路径"};
        for (auto* h : headers) list.AddColumn(h, 1500, ui::Align::Left);
        list.SetImageList(icons);
        owner.window = window_;
    }
    void TearDown() override { DestroyWindow(window_); }

    void Refresh() { modEnumProcess::RefreshProcessList(list, icons, owner); }
    int Row(DWORD pid) { return list.FindKey(L"PID:" + std::to_wstring(pid)); }

    HWND window_ = nullptr;
    ui::ListView list;
    ui::ImageList icons{16, 16};
    FakeOwner owner;
};
