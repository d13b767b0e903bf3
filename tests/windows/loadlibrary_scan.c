/* A plain C program that loads qort.dll at run time, as programs built
 * elsewhere do: LoadLibraryA, the nine exports by name with GetProcAddress,
 * DllGetVersion, then one scan. Exit status 0 when at least the number of
 * modules given as argument answered within the wait. */
#include "protocol/qort.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#define REPLY_WAIT_MS 10000
#define POLL_MS 20

typedef int(__cdecl* StartFn)(void);
typedef int(__cdecl* ScanFn)(void);
typedef int(__cdecl* GetResponseFn)(QORT_ModuleScanResponseType*);
typedef long(__stdcall* DllGetVersionFn)(DLLVERSIONINFO*);

static const char* const kExports[] = {"QORT_Start", "QORT_SendModuleScan", "QORT_SendConfigure", "QORT_SendWink",
    "QORT_RegisterCallBack", "QORT_GetResponse", "QORT_GetInvPswdMacId", "QORT_RemoveFirstInvPswdMacId",
    "DllGetVersion"};

int main(int argc, char** argv)
{
    const int expected = argc > 1 ? atoi(argv[1]) : 1;
    HMODULE library = LoadLibraryA("qort.dll");
    if (library == NULL) {
        fprintf(stderr, "LoadLibraryA(qort.dll) failed: %lu\n", (unsigned long)GetLastError());
        return 10;
    }
    for (size_t i = 0; i < sizeof kExports / sizeof kExports[0]; ++i)
        if (GetProcAddress(library, kExports[i]) == NULL) {
            fprintf(stderr, "no export %s\n", kExports[i]);
            return 11;
        }
    /* Function pointers from FARPROC go through an integer: ISO C has no
     * conversion between object and function pointers of different types. */
    DllGetVersionFn getVersion = (DllGetVersionFn)(INT_PTR)GetProcAddress(library, "DllGetVersion");
    StartFn start = (StartFn)(INT_PTR)GetProcAddress(library, "QORT_Start");
    ScanFn scan = (ScanFn)(INT_PTR)GetProcAddress(library, "QORT_SendModuleScan");
    GetResponseFn getResponse = (GetResponseFn)(INT_PTR)GetProcAddress(library, "QORT_GetResponse");

    DLLVERSIONINFO version = {0};
    if (getVersion(&version) != 0 || version.dwMajorVersion != 1 || version.dwMinorVersion != 1
        || version.dwBuildNumber != 2) {
        fprintf(stderr, "DllGetVersion: %u.%u.%u\n", (unsigned)version.dwMajorVersion, (unsigned)version.dwMinorVersion,
            (unsigned)version.dwBuildNumber);
        return 12;
    }
    printf("DllGetVersion %u.%u.%u\n", (unsigned)version.dwMajorVersion, (unsigned)version.dwMinorVersion,
        (unsigned)version.dwBuildNumber);
    if (start() != 1 || scan() != 1) {
        fprintf(stderr, "QORT_Start or QORT_SendModuleScan failed\n");
        return 13;
    }
    int found = 0;
    QORT_ModuleScanResponseType reply;
    for (DWORD waited = 0; found < expected && waited < REPLY_WAIT_MS; waited += POLL_MS) {
        while (getResponse(&reply) == 1) {
            ++found;
            if (reply.MacIdValid == 1)
                printf("module %02X-%02X-%02X-%02X-%02X-%02X\n", reply.MacId[0], reply.MacId[1], reply.MacId[2],
                    reply.MacId[3], reply.MacId[4], reply.MacId[5]);
        }
        if (found < expected)
            Sleep(POLL_MS); /* no callback here: poll the queue, bounded by REPLY_WAIT_MS */
    }
    printf("%d module(s) answered\n", found);
    return found >= expected ? 0 : 1;
}
