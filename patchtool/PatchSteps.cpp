#include "patchtool/PatchSteps.h"

#include <winsvc.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/vb/Runtime.h"
#include "platform/win/Handle.h"
#include "platform/win/Text.h"

namespace patch {

namespace {

struct ServiceHandleTraits {
    using pointer = SC_HANDLE;
    static pointer invalid() { return nullptr; }
    static bool valid(pointer h) { return h != nullptr; }
    static void close(pointer h) { ::CloseServiceHandle(h); }
};
using ServiceHandle = win::UniqueHandle<ServiceHandleTraits>;

std::wstring ErrorText(DWORD code) {
    return win::LastErrorText(code) + L"（错误 " + std::to_wstring(code) + L"）";
}

std::wstring FolderOf(const std::wstring& path) {
    auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

// Waits for a handle (or, without one, only for the time) while the window
// keeps painting and answering.  Returns early when the program is to quit.
enum class Wait { Signalled, TimedOut, Quit };
Wait PumpingWait(HANDLE handle, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    const DWORD count = handle ? 1 : 0;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        DWORD r = MsgWaitForMultipleObjects(count, handle ? &handle : nullptr, FALSE, left, QS_ALLINPUT);
        if (handle && r == WAIT_OBJECT_0) return Wait::Signalled;
        if (r != WAIT_OBJECT_0 + count) return Wait::TimedOut;
        if (!vb::DoEvents()) return Wait::Quit;
    }
}

bool SameContent(const std::wstring& path, std::span<const BYTE> bytes) {
    win::FileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!f || !GetFileSizeEx(f.get(), &size) || static_cast<ULONGLONG>(size.QuadPart) != bytes.size()) return false;
    std::vector<BYTE> have(bytes.size());
    size_t done = 0;
    while (done < have.size()) {
        DWORD got = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(have.size() - done, 1u << 20));
        if (!ReadFile(f.get(), have.data() + done, chunk, &got, nullptr) || got == 0) return false;
        done += got;
    }
    return std::equal(have.begin(), have.end(), bytes.begin());
}

// Writes the bytes to a new temporary file in folder; returns its path or
// empty with the error in *error.
std::wstring WriteTemporary(const std::wstring& folder, std::span<const BYTE> bytes, DWORD* error) {
    wchar_t temp[MAX_PATH + 16] = {};
    if (!GetTempFileNameW(folder.c_str(), L"mxp", 0, temp)) {
        *error = GetLastError();
        return {};
    }
    bool ok = false;
    {
        win::FileHandle f(CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ok = static_cast<bool>(f);
        size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD wrote = 0;
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
            ok = WriteFile(f.get(), bytes.data() + done, chunk, &wrote, nullptr) && wrote == chunk;
            done += wrote;
        }
        if (ok) ok = FlushFileBuffers(f.get()) != 0;
        if (!ok) *error = GetLastError();
    }
    if (!ok) {
        DeleteFileW(temp);
        return {};
    }
    return temp;
}

std::wstring StartTypeText(DWORD type) {
    switch (type) {
    case SERVICE_AUTO_START: return L"自动";
    case SERVICE_DEMAND_START: return L"手动";
    case SERVICE_DISABLED: return L"已禁用";
    case SERVICE_BOOT_START: return L"引导";
    case SERVICE_SYSTEM_START: return L"系统";
    }
    return std::to_wstring(type);
}

std::wstring StateText(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED: return L"已停止";
    case SERVICE_START_PENDING: return L"正在启动";
    case SERVICE_STOP_PENDING: return L"正在停止";
    case SERVICE_RUNNING: return L"正在运行";
    case SERVICE_CONTINUE_PENDING: return L"正在继续";
    case SERVICE_PAUSE_PENDING: return L"正在暂停";
    case SERVICE_PAUSED: return L"已暂停";
    }
    return std::to_wstring(state);
}

ServiceHandle OpenService(const std::wstring& service, DWORD access, DWORD* error) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        *error = GetLastError();
        return {};
    }
    ServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), access));
    if (!handle) *error = GetLastError();
    return handle;
}

}  // namespace

std::wstring SystemFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return {};
    std::wstring folder(buffer, n);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

std::optional<std::span<const BYTE>> CarriedFile(HMODULE module, int resourceId) {
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"CUSTOM");
    if (!info) return std::nullopt;
    DWORD size = SizeofResource(module, info);
    HGLOBAL loaded = LoadResource(module, info);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data || size == 0) return std::nullopt;
    return std::span<const BYTE>(static_cast<const BYTE*>(data), size);
}

bool CarriesAnyComponent(HMODULE module) {
    return std::any_of(std::begin(kComponents), std::end(kComponents),
                       [module](const Component& c) { return CarriedFile(module, c.resourceId).has_value(); });
}

std::optional<uint64_t> ImageVersion(std::span<const BYTE> image) {
    // The version resource starts with the UTF-16 key "VS_VERSION_INFO" and,
    // after padding to a 32-bit boundary, the fixed information block whose
    // signature is 0xFEEF04BD.
    static const wchar_t key[] = L"VS_VERSION_INFO";
    const size_t keyBytes = sizeof key;  // with its NUL
    const DWORD signature = 0xFEEF04BD;
    for (size_t at = 0; at + keyBytes + 4 + 16 <= image.size(); ++at) {
        if (std::memcmp(image.data() + at, key, keyBytes) != 0) continue;
        for (size_t pad = 0; pad < 4; ++pad) {
            size_t fixed = at + keyBytes + pad;
            if (fixed + 16 > image.size()) break;
            DWORD sig, ms, ls;
            std::memcpy(&sig, image.data() + fixed, 4);
            if (sig != signature) continue;
            std::memcpy(&ms, image.data() + fixed + 8, 4);
            std::memcpy(&ls, image.data() + fixed + 12, 4);
            return (static_cast<uint64_t>(ms) << 32) | ls;
        }
    }
    return std::nullopt;
}

std::optional<uint64_t> FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return std::nullopt;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != 0xFEEF04BD)
        return std::nullopt;
    return (static_cast<uint64_t>(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
}

std::wstring VersionText(uint64_t v) {
    return std::to_wstring((v >> 48) & 0xFFFF) + L"." + std::to_wstring((v >> 32) & 0xFFFF) + L"." +
           std::to_wstring((v >> 16) & 0xFFFF) + L"." + std::to_wstring(v & 0xFFFF);
}

StepResult InstallComponent(HMODULE module, const Component& component, const std::wstring& target) {
    StepResult r{std::wstring(L"写入 ") + component.fileName};
    auto bytes = CarriedFile(module, component.resourceId);
    if (!bytes) {
        r.detail = L"本程序没有携带此文件";
        return r;
    }
    const auto carried = ImageVersion(*bytes);
    bool replacing = false;
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            r.detail = L"目标位置是一个文件夹，未写入";
            return r;
        }
        if (SameContent(target, *bytes)) {
            r.ok = true;
            r.detail = L"系统中已是相同的文件";
            return r;
        }
        const auto present = FileVersion(target);
        if (!carried) {
            // Without a version of our own there is no telling which is newer.
            r.detail = L"系统中已有此文件，无法比较版本，未替换";
            return r;
        }
        if (present && *present >= *carried) {
            r.ok = true;
            r.detail = L"系统中的版本 " + VersionText(*present) + L" 不旧于本程序所带的 " + VersionText(*carried) +
                       L"，未替换";
            return r;
        }
        replacing = true;
    }
    // Never overwrite in place: a half-written system file is worse than an
    // old one.  The new bytes go to a temporary file beside the target first.
    DWORD error = 0;
    std::wstring temp = WriteTemporary(FolderOf(target), *bytes, &error);
    if (temp.empty()) {
        r.detail = L"无法写入临时文件：" + ErrorText(error);
        return r;
    }
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        DeleteFileW(temp.c_str());
        r.detail = (replacing ? L"无法替换旧文件：" : L"无法写入：") + ErrorText(error);
        return r;
    }
    r.ok = true;
    r.detail = replacing ? L"已替换旧版本" : L"已写入";
    if (carried) r.detail += L"（版本 " + VersionText(*carried) + L"）";
    return r;
}

CommandOutcome RunHidden(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
    CommandOutcome out;
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW si{sizeof si};
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        FolderOf(program).c_str(), &si, &pi)) {
        out.error = GetLastError();
        return out;
    }
    out.started = true;
    win::Handle process(pi.hProcess);
    win::Handle thread(pi.hThread);
    Wait w = PumpingWait(process.get(), timeoutMs);
    if (w == Wait::TimedOut) {  // a hung command is ended
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        out.timedOut = true;
        return out;
    }
    // When quitting, a registration under way is left to finish on its own.
    out.exitCodeRead = GetExitCodeProcess(process.get(), &out.exitCode) != FALSE;
    if (!out.exitCodeRead) out.error = GetLastError();
    return out;
}

std::wstring Regsvr32ExitText(DWORD code) {
    std::wstring text = L"regsvr32 退出码 " + std::to_wstring(code);
    switch (code) {
    case 1: return text + L"：命令行参数无效";
    case 2: return text + L"：OLE 初始化失败";
    case 3: return text + L"：无法加载此文件";
    case 4: return text + L"：文件中没有注册入口";
    case 5: return text + L"：注册函数执行失败";
    }
    return text;
}

StepResult RegisterComponent(const std::wstring& systemFolder, const Component& component) {
    StepResult r{std::wstring(L"注册 ") + component.fileName};
    const std::wstring file = systemFolder + L"\\" + component.fileName;
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        r.detail = L"系统文件夹中没有此文件，未注册";
        return r;
    }
    const std::wstring regsvr32 = systemFolder + L"\\regsvr32.exe";
    CommandOutcome run = RunHidden(regsvr32, L"/s \"" + file + L"\"", kCommandTimeoutMs);
    if (!run.started) {
        r.detail = L"无法启动 " + regsvr32 + L"：" + ErrorText(run.error);
        return r;
    }
    return RegistrationResult(component, run);
}

StepResult RegistrationResult(const Component& component, const CommandOutcome& run) {
    StepResult r{std::wstring(L"注册 ") + component.fileName};
    if (run.timedOut) {
        r.detail = L"regsvr32 在 " + std::to_wstring(kCommandTimeoutMs / 1000) + L" 秒内没有结束，已终止";
    } else if (!run.exitCodeRead) {
        r.detail = L"无法读取 regsvr32 的退出码：" + ErrorText(run.error);
    } else if (run.exitCode == 0) {
        r.ok = true;
        r.detail = L"已注册";
    } else if (run.exitCode == 4 && component.mayLackEntry) {
        r.ok = true;
        r.detail = L"此文件不需要注册（" + Regsvr32ExitText(4) + L"）";
    } else {
        r.detail = Regsvr32ExitText(run.exitCode);
    }
    return r;
}

StepResult SetServiceAutomatic(const std::wstring& service) {
    StepResult r{L"将服务 " + service + L" 设为自动启动"};
    DWORD error = 0;
    ServiceHandle handle = OpenService(service, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG, &error);
    if (!handle) {
        r.detail = L"无法打开服务：" + ErrorText(error);
        return r;
    }
    if (!ChangeServiceConfigW(handle.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        r.detail = L"无法更改启动类型：" + ErrorText(GetLastError());
        return r;
    }
    DWORD needed = 0;
    QueryServiceConfigW(handle.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(std::max<DWORD>(needed, sizeof(QUERY_SERVICE_CONFIGW)));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(handle.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
        r.detail = L"无法读回启动类型：" + ErrorText(GetLastError());
        return r;
    }
    r.ok = config->dwStartType == SERVICE_AUTO_START;
    r.detail = L"启动类型读回为“" + StartTypeText(config->dwStartType) + L"”";
    return r;
}

StepResult StartServiceAndWait(const std::wstring& service, DWORD timeoutMs) {
    StepResult r{L"启动服务 " + service};
    DWORD error = 0;
    ServiceHandle handle = OpenService(service, SERVICE_START | SERVICE_QUERY_STATUS, &error);
    if (!handle) {
        r.detail = L"无法打开服务：" + ErrorText(error);
        return r;
    }
    SERVICE_STATUS status{};
    if (QueryServiceStatus(handle.get(), &status) && status.dwCurrentState == SERVICE_RUNNING) {
        r.ok = true;
        r.detail = L"服务已在运行";
        return r;
    }
    if (!StartServiceW(handle.get(), 0, nullptr) && (error = GetLastError()) != ERROR_SERVICE_ALREADY_RUNNING) {
        r.detail = L"无法启动：" + ErrorText(error);
        return r;
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (!QueryServiceStatus(handle.get(), &status)) {
            r.detail = L"无法读取服务状态：" + ErrorText(GetLastError());
            return r;
        }
        if (status.dwCurrentState == SERVICE_RUNNING) {
            r.ok = true;
            r.detail = L"已启动，状态读回为“正在运行”";
            return r;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            r.detail = L"服务启动后又停止了（退出码 " + std::to_wstring(status.dwWin32ExitCode) + L"）";
            return r;
        }
        if (GetTickCount64() >= deadline || PumpingWait(nullptr, 200) == Wait::Quit) break;
    }
    r.detail = L"服务在 " + std::to_wstring(timeoutMs / 1000) + L" 秒内没有进入运行状态（状态：" +
               StateText(status.dwCurrentState) + L"）";
    return r;
}

std::vector<StepResult> ApplyPatch(HMODULE module, const std::wstring& service) {
    std::vector<StepResult> results;
    const std::wstring folder = SystemFolder();
    for (const Component& c : kComponents) results.push_back(InstallComponent(module, c, folder + L"\\" + c.fileName));
    for (const Component& c : kComponents) {
        if (!c.registered) continue;
        if (vb::QuitPending()) return results;
        results.push_back(RegisterComponent(folder, c));
    }
    if (vb::QuitPending()) return results;
    results.push_back(SetServiceAutomatic(service));
    results.push_back(StartServiceAndWait(service, kServiceStartTimeoutMs));
    return results;
}

std::wstring ComposeReport(const std::vector<StepResult>& results, bool carriesAny) {
    const bool allOk = carriesAny && !results.empty() &&
                       std::all_of(results.begin(), results.end(), [](const StepResult& r) { return r.ok; });
    std::wstring text = allOk ? kSuccessText : L"补丁没有全部应用成功，各步骤的结果如下：";
    if (!carriesAny) text += L"\r\n本补丁程序没有携带任何组件文件，只能注册系统中已有的组件并开启服务。";
    text += L"\r\n";
    for (const StepResult& r : results)
        text += L"\r\n" + r.step + (r.ok ? L"：成功，" : L"：失败，") + r.detail;
    return text;
}

}  // namespace patch
