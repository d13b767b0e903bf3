/*
 * Drives libqort the way a foreign program would: loaded by name at run
 * time with dlopen(), the nine functions found with dlsym(), used through
 * qort.h alone, from C. A scan against three simulated modules must give
 * three records in order; unloading the library must stop its threads.
 *
 * Runs inside scripts/isolated-net (CTest does that); the simulator is
 * started in the modules namespace with `ip netns exec`.
 */
#define _POSIX_C_SOURCE 200809L

#include "protocol/qort.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

enum { kModules = 3, kTimeoutMs = 10000, kPollStepMs = 5, kLineSize = 4096 };

static int checks;
static int failures;

#define CHECK(condition)                                                                                               \
    do {                                                                                                               \
        ++checks;                                                                                                      \
        if (!(condition)) {                                                                                            \
            ++failures;                                                                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                              \
        }                                                                                                              \
    } while (0)

typedef int (*StartFn)(void);
typedef int (*SendModuleScanFn)(void);
typedef void (*SendConfigureFn)(const QORT_ConfigureRequestType*);
typedef void (*SendWinkFn)(const QORT_ConfigureRequestType*);
typedef void (*RegisterCallBackFn)(QORT_CallBackType);
typedef int (*GetResponseFn)(QORT_ModuleScanResponseType*);
typedef int (*GetInvPswdMacIdFn)(uint8_t*);
typedef void (*RemoveFirstInvPswdMacIdFn)(void);
typedef long (*DllGetVersionFn)(DLLVERSIONINFO*);

struct Qort {
    StartFn start;
    SendModuleScanFn sendModuleScan;
    SendConfigureFn sendConfigure;
    SendWinkFn sendWink;
    RegisterCallBackFn registerCallBack;
    GetResponseFn getResponse;
    GetInvPswdMacIdFn getInvPswdMacId;
    RemoveFirstInvPswdMacIdFn removeFirstInvPswdMacId;
    DllGetVersionFn dllGetVersion;
};

static atomic_int responses;

static void onEvent(int code)
{
    if (code == QORT_CB_RESPONSE)
        atomic_fetch_add(&responses, 1);
}

/* dlsym gives an object pointer; ISO C has no cast to a function pointer,
 * so the bits are copied (what POSIX guarantees to work). */
static int lookUp(void* library, const char* name, void* function, size_t size)
{
    void* symbol = dlsym(library, name);
    if (symbol == NULL) {
        fprintf(stderr, "dlsym(%s): %s\n", name, dlerror());
        return 0;
    }
    memcpy(function, &symbol, size);
    return 1;
}

#define LOOK_UP(library, name, field) lookUp(library, name, &(field), sizeof(field))

static int bindAll(void* library, struct Qort* qort)
{
    return LOOK_UP(library, "QORT_Start", qort->start) && LOOK_UP(library, "QORT_SendModuleScan", qort->sendModuleScan)
        && LOOK_UP(library, "QORT_SendConfigure", qort->sendConfigure)
        && LOOK_UP(library, "QORT_SendWink", qort->sendWink)
        && LOOK_UP(library, "QORT_RegisterCallBack", qort->registerCallBack)
        && LOOK_UP(library, "QORT_GetResponse", qort->getResponse)
        && LOOK_UP(library, "QORT_GetInvPswdMacId", qort->getInvPswdMacId)
        && LOOK_UP(library, "QORT_RemoveFirstInvPswdMacId", qort->removeFirstInvPswdMacId)
        && LOOK_UP(library, "DllGetVersion", qort->dllGetVersion);
}

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

static void sleepMs(int ms)
{
    struct timespec pause = {0, (long)ms * 1000000L};
    nanosleep(&pause, NULL);
}

/* Starts the simulator among the modules and waits for its "ready" line.
 * Returns its pid, or -1. */
static pid_t startSimulator(const char* modulesNamespace, const char* binDir)
{
    char program[kLineSize];
    snprintf(program, sizeof program, "%s/sorvinda-modulesim", binDir);
    char* argv[] = {"ip", "netns", "exec", (char*)modulesNamespace, program, "--count", "3", NULL};

    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "ip", &actions, NULL, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return -1;
    }

    char output[kLineSize] = {0};
    size_t used = 0;
    struct pollfd watched = {fds[0], POLLIN, 0};
    for (int waited = 0; waited < kTimeoutMs && strstr(output, "ready ") == NULL; waited += kPollStepMs) {
        if (poll(&watched, 1, kPollStepMs) > 0) {
            const ssize_t got = read(fds[0], output + used, sizeof output - 1 - used);
            if (got <= 0)
                break;
            used += (size_t)got;
        }
    }
    /* The simulator writes on; the pipe stays open until it ends, and what
     * it writes later is not read (its lines are few and small). */
    if (strstr(output, "ready ") == NULL) {
        fprintf(stderr, "simulator not ready: %s\n", output);
        kill(pid, SIGKILL);
        waitpid(pid, NULL, 0);
        close(fds[0]);
        return -1;
    }
    return pid;
}

static void stopSimulator(pid_t pid)
{
    int status = 0;
    kill(pid, SIGTERM);
    for (int waited = 0; waited < kTimeoutMs; waited += kPollStepMs) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            return;
        }
        sleepMs(kPollStepMs);
    }
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    CHECK(!"the simulator did not stop on SIGTERM");
}

static void checkScanRecords(const struct Qort* qort)
{
    for (int i = 1; i <= kModules; ++i) {
        QORT_ModuleScanResponseType record;
        memset(&record, 0, sizeof record);
        CHECK(qort->getResponse(&record) == 1);
        const uint8_t mac[QORT_MAC_SIZE] = {0x00, 0x30, 0x11, 0x00, 0x00, (uint8_t)i};
        CHECK(record.MacIdValid == 1);
        CHECK(memcmp(record.MacId, mac, sizeof mac) == 0);
        CHECK(record.IpAddrValid == 1);
        CHECK(record.IpAddr == (192u << 24 | 168u << 16 | 10u << 8 | (uint32_t)i));
        CHECK(
            record.ProtocolVersionValid == 1 && record.ProtocolVersionMajor == 1 && record.ProtocolVersionMinor == 10);
        CHECK(record.FbTypeValid == 1 && strcmp(record.FbType, "Modbus TCP") == 0);
    }
    QORT_ModuleScanResponseType none;
    CHECK(qort->getResponse(&none) == 0);
}

int main(void)
{
    const char* isolated = getenv("SORVINDA_ISOLATED");
    const char* modulesNamespace = getenv("SORVINDA_NETNS_MODULES");
    const char* libDir = getenv("SORVINDA_LIB_DIR");
    const char* binDir = getenv("SORVINDA_BIN_DIR");
    if (isolated == NULL || strcmp(isolated, "1") != 0 || modulesNamespace == NULL) {
        fprintf(stderr, "FATAL: run inside scripts/isolated-net (SORVINDA_ISOLATED=1 missing)\n");
        return 2;
    }
    if (libDir == NULL || binDir == NULL) {
        fprintf(stderr, "FATAL: SORVINDA_LIB_DIR and SORVINDA_BIN_DIR must be set (CTest sets them)\n");
        return 2;
    }

    const int threadsBefore = threadCount();
    char path[kLineSize];
    snprintf(path, sizeof path, "%s/libqort.so.1", libDir);
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "FATAL: dlopen(%s): %s\n", path, dlerror());
        return 1;
    }
    struct Qort qort;
    if (!bindAll(library, &qort))
        return 1;

    DLLVERSIONINFO version;
    memset(&version, 0xAB, sizeof version);
    CHECK(qort.dllGetVersion(&version) == 0);
    CHECK(version.dwMajorVersion == 1 && version.dwMinorVersion == 1 && version.dwBuildNumber == 2);
    CHECK(version.dwPlatformID == DLLVER_PLATFORM_WINDOWS);

    const pid_t simulator = startSimulator(modulesNamespace, binDir);
    if (simulator < 0) {
        fprintf(stderr, "FATAL: the simulator could not be started\n");
        return 1;
    }

    qort.registerCallBack(onEvent);
    CHECK(qort.start() == 1);
    CHECK(qort.sendModuleScan() == 1);
    for (int waited = 0; waited < kTimeoutMs && atomic_load(&responses) < kModules; waited += kPollStepMs)
        sleepMs(kPollStepMs);
    CHECK(atomic_load(&responses) == kModules);
    checkScanRecords(&qort);

    uint8_t mac[QORT_MAC_SIZE];
    CHECK(qort.getInvPswdMacId(mac) == 0);
    qort.removeFirstInvPswdMacId();

    stopSimulator(simulator);
    qort.registerCallBack(NULL);
    CHECK(threadCount() > threadsBefore);
    CHECK(dlclose(library) == 0);
    /* A joined thread can linger in /proc/self/task for a moment. */
    for (int waited = 0; waited < kTimeoutMs && threadCount() != threadsBefore; waited += kPollStepMs)
        sleepMs(kPollStepMs);
    CHECK(threadCount() == threadsBefore);

    printf("dlopen_test: %d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
