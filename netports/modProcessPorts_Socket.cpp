#include "netports/modProcessPorts_Socket.h"

#include <map>
#include <utility>
#include <vector>

#include "netports/clsProcessPorts.h"
#include "platform/vb/VbError.h"
#include "platform/win/Text.h"

namespace modProcessPorts {
namespace {

struct SocketSlot {
    SOCKET handle = INVALID_SOCKET;  // INVALID_SOCKET (-1) marks a free slot
    clsProcessPorts* owner = nullptr;
};

struct LookupSlot {
    HANDLE handle = nullptr;  // nullptr marks a free slot
    clsProcessPorts* owner = nullptr;
    std::unique_ptr<char[]> buffer;
    bool finished = false;
    unsigned long serial = 0;
};

struct ModuleState {
    long instanceCount = 0;
    bool winsockStarted = false;
    HWND window = nullptr;
    HWND hookedWindow = nullptr;
    WNDPROC previousProc = nullptr;
    // The tables never shrink while the router lives; freed slots are reused.
    std::vector<SocketSlot> socketTable;
    std::vector<LookupSlot> resolveTable;
    std::map<SOCKET, clsProcessPorts*> registeredSockets;
    std::map<SOCKET, std::shared_ptr<clsProcessPorts>> acceptedSockets;
    // Buffers of lookups nobody waits for any more; each goes when its
    // completion arrives (never, if the window went first: kept, not freed).
    std::vector<std::pair<HANDLE, std::unique_ptr<char[]>>> retained;
    unsigned long nextSerial = 1;
};

// Never destroyed: objects that end during the program's exit still find it.
ModuleState& M() {
    static ModuleState* state = new ModuleState;
    return *state;
}

[[noreturn]] void RaiseWinsock(long code, const wchar_t* source) {
    throw vb::Error(code, source, GetErrorDescription(code));
}

long CallOwner(clsProcessPorts* owner, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        return owner->WndProc(hwnd, msg, wParam, lParam);
    } catch (...) {
        // Nothing unwinds through the window manager.
        return 0;
    }
}

int FindSocketSlot(SOCKET socket) {
    auto& table = M().socketTable;
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].handle == socket) return static_cast<int>(i);
    return -1;
}

// False when the socket is already in the table (its first owner stays).
bool AddSocketSlot(SOCKET socket, clsProcessPorts* owner) {
    auto& table = M().socketTable;
    if (FindSocketSlot(socket) >= 0) return false;
    for (auto& slot : table) {
        if (slot.handle == INVALID_SOCKET) {
            slot = {socket, owner};
            return true;
        }
    }
    table.push_back({socket, owner});
    return true;
}

void RemoveSocketSlot(SOCKET socket) {
    int i = FindSocketSlot(socket);
    if (i >= 0) M().socketTable[i] = SocketSlot{};
}

int FindLookupSlot(HANDLE handle) {
    auto& table = M().resolveTable;
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].handle == handle && handle) return static_cast<int>(i);
    return -1;
}

int FindLookupSerial(unsigned long serial) {
    auto& table = M().resolveTable;
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].handle && table[i].serial == serial) return static_cast<int>(i);
    return -1;
}

void AddLookupSlot(HANDLE handle, clsProcessPorts* owner, std::unique_ptr<char[]> buffer) {
    auto& m = M();
    LookupSlot entry;
    entry.handle = handle;
    entry.owner = owner;
    entry.buffer = std::move(buffer);
    entry.serial = m.nextSerial++;
    for (auto& slot : m.resolveTable) {
        if (!slot.handle) {
            slot = std::move(entry);
            return;
        }
    }
    m.resolveTable.push_back(std::move(entry));
}

// A lookup that is still running keeps its buffer; a finished one frees it.
void ReleaseLookupSlot(int i) {
    auto& m = M();
    LookupSlot& slot = m.resolveTable[i];
    if (!slot.finished && slot.buffer) m.retained.emplace_back(slot.handle, std::move(slot.buffer));
    slot = LookupSlot{};
}

LRESULT CALLBACK Router(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

void Hook(HWND window) {
    auto& m = M();
    if (m.hookedWindow) return;
    m.previousProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Router));
    m.hookedWindow = window;
}

void Unhook() {
    auto& m = M();
    if (!m.hookedWindow) return;
    m.socketTable.clear();
    for (size_t i = 0; i < m.resolveTable.size(); ++i)
        if (m.resolveTable[i].handle) ReleaseLookupSlot(static_cast<int>(i));
    m.resolveTable.clear();
    SetWindowLongPtrW(m.hookedWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m.previousProc));
    m.hookedWindow = nullptr;
    m.previousProc = nullptr;
}

void DestroyWinsockMessageWindow() {
    auto& m = M();
    if (!m.window) return;
    if (!DestroyWindow(m.window))
        throw vb::Error(7, L"modProcessPorts.DestroyWinsockMessageWindow", L"Out of memory");
    m.window = nullptr;
}

void ReleaseWindowIfUnused() {
    if (!M().registeredSockets.empty()) return;
    Unhook();
    vb::Try([] { DestroyWinsockMessageWindow(); });
}

// Notifications already queued for a closed socket would otherwise reach the
// next socket that gets its number.  Posted messages only: no sent message is
// handled here, and the others keep their order.
void DropQueuedNotifications(SOCKET socket) {
    HWND window = M().window;
    if (!window) return;
    std::vector<MSG> keep;
    MSG msg;
    while (PeekMessageW(&msg, window, kSocketMessage, kSocketMessage,
                        PM_REMOVE | PM_NOYIELD | PM_QS_POSTMESSAGE)) {
        if (static_cast<SOCKET>(msg.wParam) != socket) keep.push_back(msg);
    }
    for (const MSG& k : keep) PostMessageW(window, k.message, k.wParam, k.lParam);
}

void LookupFinished(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    auto& m = M();
    HANDLE handle = reinterpret_cast<HANDLE>(wParam);
    int i = FindLookupSlot(handle);
    if (i < 0) {
        for (auto it = m.retained.begin(); it != m.retained.end(); ++it) {
            if (it->first == handle) {
                m.retained.erase(it);
                break;
            }
        }
        return;
    }
    LookupSlot& slot = m.resolveTable[i];
    slot.finished = true;
    clsProcessPorts* owner = slot.owner;
    unsigned long serial = slot.serial;
    if (owner) CallOwner(owner, hwnd, kResolveMessage, wParam, lParam);
    // The owner may have started other lookups meanwhile: find this one again.
    int j = FindLookupSerial(serial);
    if (j >= 0) ReleaseLookupSlot(j);
}

LRESULT CALLBACK Router(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& m = M();
    if (msg == kResolveMessage) {
        LookupFinished(hwnd, wParam, lParam);
        return 0;
    }
    if (msg == kSocketMessage) {
        int i = FindSocketSlot(static_cast<SOCKET>(wParam));
        if (i < 0 || !m.socketTable[i].owner) return 0;
        return CallOwner(m.socketTable[i].owner, hwnd, msg, wParam, lParam);
    }
    WNDPROC previous = m.previousProc;
    if (previous) return CallWindowProcW(previous, hwnd, msg, wParam, lParam);
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void TearDownRouter() {
    auto& m = M();
    Unhook();
    m.registeredSockets.clear();
    vb::Try([] { DestroyWinsockMessageWindow(); });
    m.socketTable.clear();
    m.resolveTable.clear();
}

}  // namespace

long InitiateProcesses() {
    auto& m = M();
    ++m.instanceCount;
    if (m.winsockStarted) return 0;
    WSADATA data{};
    int result = WSAStartup(MAKEWORD(1, 1), &data);
    if (result != 0) {
        // The object that asked does not come to life.
        --m.instanceCount;
        RaiseWinsock(result, L"modProcessPorts.InitiateProcesses");
    }
    m.winsockStarted = true;
    return 0;
}

long FinalizeProcesses() {
    auto& m = M();
    long before = m.instanceCount--;
    if (!m.winsockStarted || before != 1) return 0;
    if (WSACleanup() == SOCKET_ERROR) RaiseWinsock(WSAGetLastError(), L"modProcessPorts.FinalizeProcesses");
    TearDownRouter();
    m.winsockStarted = false;
    return 0;
}

std::wstring GetErrorDescription(long code) {
    switch (code) {
    case 10004: return L"Interrupted function call.";
    case 10013: return L"Permission denied.";
    case 10014: return L"Bad address.";
    case 10022: return L"Invalid argument.";
    case 10024: return L"Too many open files.";
    case 10035: return L"Resource temporarily unavailable.";
    case 10036: return L"Operation now in progress.";
    case 10037: return L"Operation already in progress.";
    case 10038: return L"Socket operation on nonsocket.";
    case 10039: return L"Destination address required.";
    case 10040: return L"Message too long.";
    case 10041: return L"Protocol wrong type for socket.";
    case 10042: return L"Bad protocol option.";
    case 10043: return L"Protocol not supported.";
    case 10044: return L"Socket type not supported.";
    case 10045: return L"Operation not supported.";
    case 10046: return L"Protocol family not supported.";
    case 10047: return L"Address family not supported by protocol family.";
    case 10048: return L"Address already in use.";
    case 10049: return L"Cannot assign requested address.";
    case 10050: return L"Network is down.";
    case 10051: return L"Network is unreachable.";
    case 10052: return L"Network dropped connection on reset.";
    case 10053: return L"Software caused connection abort.";
    case 10054: return L"Connection reset by peer.";
    case 10055: return L"No buffer space available.";
    case 10056: return L"Socket is already connected.";
    case 10057: return L"Socket is not connected.";
    case 10058: return L"Cannot send after socket shutdown.";
    case 10060: return L"Connection timed out.";
    case 10061: return L"Connection refused.";
    case 10065: return L"No route to host.";
    case 10067: return L"Too many processes.";
    case 10091: return L"Network subsystem is unavailable.";
    case 10092: return L"Winsock.dll version out of range.";
    case 10093: return L"Successful WSAStartup not yet performed.";
    case 11001: return L"Host not found.";
    case 11002: return L"Nonauthoritative host not found.";
    case 11003: return L"This is a nonrecoverable error.";
    case 11004: return L"Valid name, no data record of requested type.";
    default: return L"Unknown error.";
    }
}

bool RegisterSocket(SOCKET socket, clsProcessPorts* owner, bool withEvents) {
    auto& m = M();
    if (m.registeredSockets.empty()) {
        HWND window = CreateWindowExW(0, L"STATIC", L"SOCKET_WINDOW", 0, 0, 0, 0, 0, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        if (!window) throw vb::Error(7, L"modProcessPorts.RegisterSocket", L"Out of memory");
        m.window = window;
        Hook(window);
    }
    bool added = AddSocketSlot(socket, owner);
    if (withEvents && WSAAsyncSelect(socket, m.window, kSocketMessage, kSocketEvents) == SOCKET_ERROR) {
        long code = WSAGetLastError();
        // No route may outlive a registration that failed.
        if (added) RemoveSocketSlot(socket);
        ReleaseWindowIfUnused();
        RaiseWinsock(code, L"modProcessPorts.RegisterSocket");
    }
    if (m.registeredSockets.count(socket))
        throw vb::Error(457, L"modProcessPorts.RegisterSocket",
                        L"This key is already associated with an element of this collection");
    m.registeredSockets[socket] = owner;
    return true;
}

void UnregisterSocket(SOCKET socket) {
    auto& m = M();
    vb::Try([&] {
        RemoveSocketSlot(socket);
        m.registeredSockets.erase(socket);
        DropQueuedNotifications(socket);
        ReleaseWindowIfUnused();
    });
}

bool IsSocketRegistered(SOCKET socket) {
    return M().registeredSockets.count(socket) > 0;
}

void ModifySocketEntry(SOCKET socket, clsProcessPorts* owner) {
    auto& m = M();
    int i = FindSocketSlot(socket);
    if (i >= 0) m.socketTable[i].owner = owner;
    auto it = m.registeredSockets.find(socket);
    if (it != m.registeredSockets.end()) it->second = owner;
}

void UnregisterOwner(const clsProcessPorts* owner) {
    auto& m = M();
    bool removed = false;
    for (auto& slot : m.socketTable) {
        if (slot.handle != INVALID_SOCKET && slot.owner == owner) {
            slot = SocketSlot{};
            removed = true;
        }
    }
    for (auto it = m.registeredSockets.begin(); it != m.registeredSockets.end();) {
        if (it->second == owner) {
            it = m.registeredSockets.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    for (size_t i = 0; i < m.resolveTable.size(); ++i)
        if (m.resolveTable[i].handle && m.resolveTable[i].owner == owner) ReleaseLookupSlot(static_cast<int>(i));
    if (removed) ReleaseWindowIfUnused();
}

HANDLE StartHostResolution(const std::wstring& hostName, clsProcessPorts* owner) {
    auto& m = M();
    auto buffer = std::make_unique<char[]>(kHostEntrySize);
    std::string name = win::ToAnsi(hostName);
    HANDLE handle = Lookups().start(m.window, kResolveMessage, name.c_str(), buffer.get(), kHostEntrySize);
    if (handle) AddLookupSlot(handle, owner, std::move(buffer));
    return handle;
}

const hostent* ResolutionResult(HANDLE handle) {
    int i = FindLookupSlot(handle);
    if (i < 0 || !M().resolveTable[i].finished) return nullptr;
    return reinterpret_cast<const hostent*>(M().resolveTable[i].buffer.get());
}

void UnregisterResolution(HANDLE handle) {
    int i = FindLookupSlot(handle);
    if (i >= 0) ReleaseLookupSlot(i);
}

void CancelResolution(HANDLE handle) {
    int i = FindLookupSlot(handle);
    if (i < 0) return;
    // A real cancel refuses a handle that names no lookup; one that accepts
    // even that says nothing about whether the lookup stopped.
    const LookupCalls& calls = Lookups();
    bool stopped = calls.cancel(handle) == 0 && calls.cancel(nullptr) == SOCKET_ERROR;
    if (stopped) M().resolveTable[i].buffer.reset();  // nothing will write it
    ReleaseLookupSlot(i);
}

LookupCalls& Lookups() {
    static LookupCalls calls;
    return calls;
}

void RegisterAccept(SOCKET socket) {
    auto& m = M();
    if (m.acceptedSockets.count(socket))
        throw vb::Error(457, L"modProcessPorts.RegisterAccept",
                        L"This key is already associated with an element of this collection");
    auto adopter = std::make_shared<clsProcessPorts>();
    adopter->Adopt(socket);
    m.acceptedSockets[socket] = std::move(adopter);
}

bool IsAcceptRegistered(SOCKET socket) {
    return M().acceptedSockets.count(socket) > 0;
}

std::shared_ptr<clsProcessPorts> GetAcceptClass(SOCKET socket) {
    auto& accepted = M().acceptedSockets;
    auto it = accepted.find(socket);
    if (it == accepted.end()) throw vb::Error(5, L"modProcessPorts.GetAcceptClass", vb::Error::DefaultDescription(5));
    return it->second;
}

void UnregisterAccept(SOCKET socket) {
    auto& accepted = M().acceptedSockets;
    auto it = accepted.find(socket);
    if (it == accepted.end()) throw vb::Error(5, L"modProcessPorts.UnregisterAccept", vb::Error::DefaultDescription(5));
    // The object ends after it has left the collection.
    std::shared_ptr<clsProcessPorts> leaving = std::move(it->second);
    accepted.erase(it);
}

long HiWord(long value) {
    return static_cast<long>((static_cast<unsigned long>(value) >> 16) & 0xFFFF);
}

long LoWord(long value) {
    return static_cast<long>(static_cast<unsigned long>(value) & 0xFFFF);
}

std::wstring StringFromPointer(const char* address) {
    if (!address) return L"";
    int length = lstrlenA(address);
    std::string copy(static_cast<size_t>(length) + 1, '\0');
    if (!lstrcpyA(copy.data(), address)) return L"";
    copy.resize(static_cast<size_t>(length));
    return win::FromAnsi(copy);
}

short UnsignedToInteger(long value) {
    if (value < 0 || value > 65535) throw vb::Error(6, L"modProcessPorts.UnsignedToInteger", L"Overflow");
    return static_cast<short>(static_cast<unsigned short>(value));
}

long IntegerToUnsigned(short value) {
    return static_cast<long>(static_cast<unsigned short>(value));
}

long SocketInstanceCount() { return M().instanceCount; }
bool WinsockStarted() { return M().winsockStarted; }
HWND SocketWindow() { return M().window; }
long SocketTableCount() { return static_cast<long>(M().socketTable.size()); }
long ResolveTableCount() { return static_cast<long>(M().resolveTable.size()); }
long RetainedLookupCount() { return static_cast<long>(M().retained.size()); }

}  // namespace modProcessPorts
