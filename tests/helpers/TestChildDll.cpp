// A DLL with nothing in it, for TestChild.exe to load so a module list has
// something of ours to show.
#include <windows.h>

extern "C" __declspec(dllexport) int TestChildDllMarker() { return 42; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
