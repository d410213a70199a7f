// Stand-in for a component whose registration fails (regsvr32 exit code 5).
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() { return E_FAIL; }
