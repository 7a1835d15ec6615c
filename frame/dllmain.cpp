// Start-up of the Windows DLL. Loading the plug-in does no work of its own:
// everything begins when the host calls sorvan_initialize. The plug-in starts
// no threads and keeps no per-thread state, so it asks not to be told about
// the host's threads coming and going.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
