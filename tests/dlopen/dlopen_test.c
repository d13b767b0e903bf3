/*
 * Drives libqort the way a foreign program would: loaded by name at run
 * time with dlopen(), the ten functions found with dlsym(), used through
 * qort.h alone, from C. A reply sent to the library must reach the C
 * callback and the record; unloading the library must stop its threads.
 * A library loaded and unloaded without being started must keep nothing:
 * no descriptor here, no memory (LeakSanitizer in the ASan build).
 * Runs inside scripts/isolated-net (CTest does that).
 */
#define _POSIX_C_SOURCE 200809L

#include "protocol/qort.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kTimeoutMs = 10000, kPollStepMs = 5, kPathSize = 4096, kProtocolPort = 3250, kUnstartedLoads = 50 };

static int checks, failures;

#define CHECK(condition)                                                                                               \
    do {                                                                                                               \
        ++checks;                                                                                                      \
        if (!(condition)) {                                                                                            \
            ++failures;                                                                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                              \
        }                                                                                                              \
    } while (0)

static atomic_int responses;

static void onEvent(int code)
{
    if (code == QORT_CB_RESPONSE)
        atomic_fetch_add(&responses, 1);
}

/* dlsym gives an object pointer; ISO C has no cast to a function pointer,
 * so the bits are copied (what POSIX guarantees to work). */
static void* lookUp(void* library, const char* name, void* function, size_t size)
{
    void* symbol = dlsym(library, name);
    if (symbol == NULL)
        fprintf(stderr, "dlsym(%s): %s\n", name, dlerror());
    memcpy(function, &symbol, size);
    return symbol;
}

#define LOOK_UP(name, field) CHECK(lookUp(library, #name, &(field), sizeof(field)) != NULL)

static int threadCount(void)
{
    int count = 0;
    DIR* tasks = opendir("/proc/self/task");
    for (struct dirent* entry; tasks != NULL && (entry = readdir(tasks)) != NULL;)
        count += entry->d_name[0] != '.';
    if (tasks != NULL)
        closedir(tasks);
    return count;
}

static int descriptorCount(void)
{
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    for (struct dirent* entry; fds != NULL && (entry = readdir(fds)) != NULL;)
        count += entry->d_name[0] != '.';
    if (fds != NULL)
        closedir(fds);
    return count;
}

/* Each load binds the port and prepares the engine; each unload must give
 * all of it back, as nothing was started. */
static void loadAndUnloadUnstarted(const char* path)
{
    const int descriptorsBefore = descriptorCount();
    int unloaded = 0;
    for (int i = 0; i < kUnstartedLoads; ++i) {
        void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        unloaded += library != NULL && dlclose(library) == 0;
    }
    CHECK(unloaded == kUnstartedLoads);
    CHECK(dlopen(path, RTLD_NOW | RTLD_NOLOAD) == NULL);
    CHECK(descriptorCount() == descriptorsBefore);
    if (descriptorCount() != descriptorsBefore)
        fprintf(stderr, "%d descriptors after %d loads, %d before\n", descriptorCount(), kUnstartedLoads,
            descriptorsBefore);
}

static void sleepMs(int ms)
{
    struct timespec pause = {0, (long)ms * 1000000L};
    nanosleep(&pause, NULL);
}

static void sendToLibrary(const char* text)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in target = {.sin_family = AF_INET, .sin_port = htons(kProtocolPort)};
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    CHECK(sendto(fd, text, strlen(text) + 1, 0, (struct sockaddr*)&target, sizeof target) > 0);
    close(fd);
}

int main(void)
{
    const char* isolated = getenv("SORVINDA_ISOLATED");
    const char* libDir = getenv("SORVINDA_LIB_DIR");
    if (isolated == NULL || strcmp(isolated, "1") != 0 || libDir == NULL) {
        fprintf(stderr, "FATAL: run inside scripts/isolated-net with SORVINDA_LIB_DIR set (CTest does both)\n");
        return 2;
    }
    const int threadsBefore = threadCount();
    char path[kPathSize];
    snprintf(path, sizeof path, "%s/libqort.so.1", libDir);
    loadAndUnloadUnstarted(path);
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "FATAL: dlopen(%s): %s\n", path, dlerror());
        return 1;
    }
    int (*start)(void), (*sendModuleScan)(void), (*getResponse)(QORT_ModuleScanResponseType*);
    uint32_t (*getLostReplyCount)(void);
    int (*getInvPswdMacId)(uint8_t*);
    void (*sendConfigure)(const QORT_ConfigureRequestType*), (*sendWink)(const QORT_ConfigureRequestType*);
    void (*registerCallBack)(QORT_CallBackType), (*removeFirstInvPswdMacId)(void);
    long (*dllGetVersion)(DLLVERSIONINFO*);
    LOOK_UP(QORT_Start, start);
    LOOK_UP(QORT_SendModuleScan, sendModuleScan);
    LOOK_UP(QORT_GetLostReplyCount, getLostReplyCount);
    LOOK_UP(QORT_SendConfigure, sendConfigure);
    LOOK_UP(QORT_SendWink, sendWink);
    LOOK_UP(QORT_RegisterCallBack, registerCallBack);
    LOOK_UP(QORT_GetResponse, getResponse);
    LOOK_UP(QORT_GetInvPswdMacId, getInvPswdMacId);
    LOOK_UP(QORT_RemoveFirstInvPswdMacId, removeFirstInvPswdMacId);
    LOOK_UP(DllGetVersion, dllGetVersion);
    if (failures > 0)
        return 1;

    DLLVERSIONINFO version;
    memset(&version, 0xAB, sizeof version);
    CHECK(dllGetVersion(&version) == 0);
    CHECK(version.dwMajorVersion == 1 && version.dwMinorVersion == 1 && version.dwBuildNumber == 2);
    registerCallBack(onEvent);
    CHECK(start() == 1);
    CHECK(threadCount() > threadsBefore);
    CHECK(sendModuleScan() == 1); /* its echo is ignored */
    sendToLibrary("mac = 00-30-11-00-00-03;ip = 192.168.10.3;");
    for (int waited = 0; waited < kTimeoutMs && atomic_load(&responses) < 1; waited += kPollStepMs)
        sleepMs(kPollStepMs);
    QORT_ModuleScanResponseType record;
    memset(&record, 0, sizeof record);
    CHECK(atomic_load(&responses) == 1);
    CHECK(getResponse(&record) == 1);
    CHECK(record.MacIdValid == 1 && record.MacId[5] == 3 && record.IpAddrValid == 1 && record.IpAddr == 0xC0A80A03u);
    CHECK(record.HostNameValid == 0);
    CHECK(getResponse(&record) == 0);
    CHECK(getLostReplyCount() == 0);
    uint8_t mac[QORT_MAC_SIZE];
    CHECK(getInvPswdMacId(mac) == 0);
    removeFirstInvPswdMacId();
    sendWink(NULL);
    sendConfigure(NULL);

    registerCallBack(NULL);
    CHECK(dlclose(library) == 0);
    /* A started library stays mapped after dlclose (its receive thread could
       be inside the callback at that moment) and is stopped at process exit,
       which the exit tests watch. */
    void* again = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    CHECK(again != NULL);
    CHECK(threadCount() > threadsBefore);
    if (again != NULL)
        dlclose(again);
    printf("dlopen_test: %d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
