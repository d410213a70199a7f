#pragma once
// What the patch does, step by step: write the carried runtime files into the
// system folder, register them with regsvr32, switch the terminal service to
// automatic start and start it.  Every step reports what really happened.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace patch {

// One runtime file carried as a "CUSTOM" resource and the name it gets in the
// system folder.  Order: the order in which the files are written.
struct Component {
    int resourceId;
    const wchar_t* fileName;
    bool registered;  // run through regsvr32 after writing
    // The common-controls library has no registration entry of its own; the
    // controls and the database engine must have one to be usable.
    bool mayLackEntry = false;
};
inline constexpr Component kComponents[] = {
    {105, L"sc.exe", false},    {101, L"comctl32.dll", true, true}, {102, L"COMCTL32.OCX", true},
    {103, L"dao360.DLL", true}, {104, L"MSCOMCTL.OCX", true},
};
inline constexpr const wchar_t* kTerminalService = L"TermService";
inline constexpr DWORD kCommandTimeoutMs = 60000;
inline constexpr DWORD kServiceStartTimeoutMs = 30000;

struct StepResult {
    std::wstring step;    // "写入 comctl32.dll"
    bool ok = false;
    std::wstring detail;  // "已写入", "失败：..."
};

std::wstring SystemFolder();  // no trailing "\"

// The bytes of a carried file, or nothing when the module does not carry it.
std::optional<std::span<const BYTE>> CarriedFile(HMODULE module, int resourceId);
bool CarriesAnyComponent(HMODULE module);

// File version (major.minor.build.revision packed high to low) from the
// version resource inside a program image's bytes, or of a file on disk.
std::optional<uint64_t> ImageVersion(std::span<const BYTE> image);
std::optional<uint64_t> FileVersion(const std::wstring& path);
std::wstring VersionText(uint64_t version);

// Writes a carried file to target when it is missing or older than the
// carried one: into a temporary file beside it, then renamed over it.
StepResult InstallComponent(HMODULE module, const Component& component, const std::wstring& target);

// Runs program (a full path) with arguments in a hidden window and waits at
// most timeoutMs, pumping messages meanwhile.  Returns the exit code, or
// nothing when it could not start or did not end in time (it is then ended).
struct CommandOutcome {
    bool started = false;
    bool timedOut = false;
    bool exitCodeRead = false;
    DWORD exitCode = 0;
    DWORD error = 0;  // why it did not start, or why its exit code could not be read
};
CommandOutcome RunHidden(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs);

// regsvr32 /s of a file in the system folder, judged by regsvr32's exit code.
StepResult RegisterComponent(const std::wstring& systemFolder, const Component& component);
// What a regsvr32 run of the component comes to.
StepResult RegistrationResult(const Component& component, const CommandOutcome& run);
std::wstring Regsvr32ExitText(DWORD code);

// The service's start type set to automatic, read back; then started and its
// state read back.
StepResult SetServiceAutomatic(const std::wstring& service);
StepResult StartServiceAndWait(const std::wstring& service, DWORD timeoutMs);

// Every step, in order; a failed step never stops the next.
std::vector<StepResult> ApplyPatch(HMODULE module, const std::wstring& service = kTerminalService);

// The final message: success only when every step succeeded.
inline constexpr const wchar_t* kSuccessText = L"补丁应用成功！  ";
std::wstring ComposeReport(const std::vector<StepResult>& results, bool carriesAny);

}  // namespace patch
