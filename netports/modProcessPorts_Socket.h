#pragma once
// The process-wide support of clsProcessPorts: Winsock started and stopped as
// socket objects come and go, one hidden "STATIC" window whose messages are
// routed to the socket object they belong to, the routing tables, the objects
// made for accepted connections, and the Winsock error texts.
// Everything here runs on the user-interface thread.
#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <string>

class clsProcessPorts;

namespace modProcessPorts {

// Messages of the hidden window.
constexpr UINT kResolveMessage = 0x800;  // wParam lookup handle, lParam length | error << 16
constexpr UINT kSocketMessage = 0x801;   // wParam socket, lParam event | error << 16
constexpr long kSocketEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;  // 59
constexpr int kHostEntrySize = 1024;     // room for one host entry of a lookup

// One more live socket object; the first starts Winsock (1.1).  Raises the
// WSAStartup error (source "modProcessPorts.InitiateProcesses"); a failed start
// is neither counted nor remembered, so the next object tries again.
long InitiateProcesses();
// One live socket object less; the last stops Winsock and takes the router
// down.  A failing WSACleanup is raised (source "modProcessPorts.FinalizeProcesses").
long FinalizeProcesses();

std::wstring GetErrorDescription(long code);

// Routes the socket's notifications to owner (withEvents also asks for them).
// The first registration makes the hidden window.  Registering a socket twice
// raises 457 and leaves the first owner in place.
bool RegisterSocket(SOCKET socket, clsProcessPorts* owner, bool withEvents);
// Stops routing the socket and drops its notifications that are still queued
// (a new socket gets the same number at once).  The last one takes the window.
void UnregisterSocket(SOCKET socket);
bool IsSocketRegistered(SOCKET socket);
void ModifySocketEntry(SOCKET socket, clsProcessPorts* owner);
// Forgets every route to owner; an object calls it as it dies.
void UnregisterOwner(const clsProcessPorts* owner);

// Starts an asynchronous lookup of hostName whose result goes to owner.  The
// module owns the result buffer: it is freed only once the lookup's completion
// has arrived, because cancelling a lookup may not stop it from writing.
// Returns the lookup handle, nullptr when it could not start.
HANDLE StartHostResolution(const std::wstring& hostName, clsProcessPorts* owner);
// The host entry of a finished lookup, while its owner handles the completion.
const hostent* ResolutionResult(HANDLE handle);
// The owner no longer wants the result.
void UnregisterResolution(HANDLE handle);
// Cancels a lookup and forgets it.  A lookup the system really cancelled
// writes nothing and posts no completion: its buffer is freed at once.  Where
// the cancel cannot be trusted (Wine's answers success for any handle and lets
// the lookup run on), the buffer waits for the completion as after
// UnregisterResolution.
void CancelResolution(HANDLE handle);

// The platform's asynchronous lookup calls; tests put their own in.
struct LookupCalls {
    HANDLE(WSAAPI* start)(HWND, u_int, const char*, char*, int) = WSAAsyncGetHostByName;
    int(WSAAPI* cancel)(HANDLE) = WSACancelAsyncRequest;
};
LookupCalls& Lookups();

// Makes the object that adopts a connection accepted for a listener.
void RegisterAccept(SOCKET socket);
bool IsAcceptRegistered(SOCKET socket);
std::shared_ptr<clsProcessPorts> GetAcceptClass(SOCKET socket);
void UnregisterAccept(SOCKET socket);

// Word and text conversions.
long HiWord(long value);  // 0..65535
long LoWord(long value);
std::wstring StringFromPointer(const char* address);
short UnsignedToInteger(long value);  // 0..65535, else run-time error 6
long IntegerToUnsigned(short value);

// What the module holds now.
long SocketInstanceCount();
bool WinsockStarted();
HWND SocketWindow();
long SocketTableCount();
long ResolveTableCount();
long RetainedLookupCount();  // lookups whose owner left before they finished

}  // namespace modProcessPorts
