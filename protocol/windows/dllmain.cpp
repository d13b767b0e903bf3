// The load-time set-up and the unload step of qort.dll.
#include "protocol/library.h"

#include <windows.h>

// Called by the loader with its lock held: the set-up opens and binds the
// socket but starts no thread (QORT_Start does). Loading never fails: a
// socket that cannot be prepared only makes sends fail later.
//
// Unloading: after FreeLibrary (reserved null) no receive thread runs - a
// started library is pinned until the process ends (QORT_Start) - so the
// unload step only closes the socket. At process end (reserved not null)
// Windows has already ended every other thread, the receive thread
// included, wherever it was: possibly holding the library's lock. Waiting
// for that lock or joining the thread would then hang the exit, so the
// library leaves its socket to the system, which closes it with the process.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        qort::libraryEngine().setUp();
        break;
    case DLL_PROCESS_DETACH:
        if (reserved == nullptr)
            qort::libraryEngine().shutdown();
        break;
    default:
        break;
    }
    return TRUE;
}
