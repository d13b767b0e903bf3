/*
 * qort.h - public C interface of the qort protocol library.
 *
 * The library finds and configures Ethernet field modules with short ASCII
 * texts carried in UDP datagrams broadcast to port 3250. Its whole interface
 * is the twelve functions below and the two records that cross between the
 * caller and the library byte for byte. (QORT_GetLostReplyCount and the
 * two "Reconfigured:" queue functions came later than the other nine: a
 * program that must also run with an older library looks them up at run
 * time and treats their absence as "unknown".)
 *
 * Results are int 1 (success, something returned) or 0; the library has no
 * error codes and no messages of its own.
 *
 * Threads: every QORT_ function except QORT_RegisterCallBack takes the
 * library's one re-entrant lock for its whole duration, waiting at most
 * 1000 ms for it. When that wait runs out the function sends nothing and
 * touches no queue: it reports 0 (or simply returns). The callback runs on the library's receive thread while
 * that lock is held: it must return quickly and must not wait for a thread
 * that may itself be waiting for the library. It may call the QORT_
 * functions directly.
 */
#ifndef QORT_H
#define QORT_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(QORT_BUILDING_LIBRARY)
#define QORT_EXPORT /* the exports are listed by name in qort.def */
#else
#define QORT_EXPORT __declspec(dllimport)
#endif
/* DllGetVersion is called through the platform's DLLGETVERSIONPROC, which
 * is __stdcall (the callee removes the argument); on 32-bit Windows the
 * two conventions differ, elsewhere this changes nothing. */
#define QORT_DLLVERSION_CALL __stdcall
#else
#define QORT_EXPORT __attribute__((visibility("default")))
#define QORT_DLLVERSION_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Codes passed to the callback. */
#define QORT_CB_RESPONSE 1         /* a scan reply was queued */
#define QORT_CB_RECONFIGURED 2     /* a module answered "Reconfigured:" */
#define QORT_CB_INVALID_PASSWORD 3 /* a module answered "Invalid Password:"; its MAC was queued */

#define QORT_TEXT_FIELD_SIZE 128 /* every text field: up to 127 characters and a NUL */
#define QORT_MAC_SIZE 6
#define QORT_ADDR_NOT_GIVEN 0xFFFFFFFFu /* address field of a request: leave the piece out */

/*
 * One module's answer to "Module Scan". Addresses are a.b.c.d stored as
 * a<<24 | b<<16 | c<<8 | d. Every field has a Valid twin: 1 when the reply
 * named the field. A field whose Valid byte is 0 holds 0xFF in all its bytes
 * and a text field is then not NUL-terminated: test Valid first.
 */
typedef struct QORT_ModuleScanResponseType {
    uint8_t ProtocolVersionMajor;
    uint8_t ProtocolVersionMinor;
    uint8_t ProtocolVersionValid;
    char FbType[QORT_TEXT_FIELD_SIZE];
    uint8_t FbTypeValid;
    uint8_t ModuleVersionMajor;
    uint8_t ModuleVersionMinor;
    uint16_t ModuleVersionBuild;
    uint8_t ModuleVersionValid;
    uint8_t MacId[QORT_MAC_SIZE];
    uint8_t MacIdValid;
    uint32_t IpAddr;
    uint8_t IpAddrValid;
    uint32_t SubnetMask;
    uint8_t SubnetMaskValid;
    uint32_t Gateway;
    uint8_t GatewayValid;
    uint8_t Dhcp; /* 0 off, 1 on, 0xFF neither */
    uint8_t DhcpValid;
    uint8_t Pswd; /* 0 no password, 1 protected, 0xFF neither */
    uint8_t PswdValid;
    char HostName[QORT_TEXT_FIELD_SIZE];
    uint8_t HostNameValid;
    uint32_t Dns1;
    uint8_t Dns1Valid;
    uint32_t Dns2;
    uint8_t Dns2Valid;
} QORT_ModuleScanResponseType;

/*
 * What to send to one module. Each text field must hold its NUL within its
 * 128 bytes. QORT_SendWink reads only MacId.
 */
typedef struct QORT_ConfigureRequestType {
    uint8_t MacId[QORT_MAC_SIZE];
    char Password[QORT_TEXT_FIELD_SIZE]; /* empty: no "Password: " piece */
    uint8_t ChangePassword;              /* 1: send NewPassword; anything else: do not */
    char NewPassword[QORT_TEXT_FIELD_SIZE];
    uint32_t IpAddr; /* QORT_ADDR_NOT_GIVEN: leave out */
    uint32_t SubnetMask;
    uint32_t Gateway;
    uint8_t Dhcp;                        /* 0 off, 1 on, anything else: leave out */
    char HostName[QORT_TEXT_FIELD_SIZE]; /* empty: sets an empty host name */
    uint32_t Dns1;
    uint32_t Dns2;
} QORT_ConfigureRequestType;

/* The platform's DLL version record: five 32-bit fields. */
typedef struct _DllVersionInfo {
    uint32_t cbSize; /* not read by DllGetVersion */
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformID;
} DLLVERSIONINFO;

#define DLLVER_PLATFORM_WINDOWS 1

typedef void (*QORT_CallBackType)(int code);

/* Starts the receive thread, which sleeps until a datagram arrives. 0 when
 * the library's load-time set-up has not run (or its unload has begun); 1
 * otherwise. A second call starts nothing more and reports 1; a call from
 * the callback returns at once. Once started, the library stays loaded until
 * the process ends: dlclose() then releases the caller's handle but does not
 * unmap the library (whose thread may be running the callback at that
 * moment), and the receive thread is stopped at process exit. */
QORT_EXPORT int QORT_Start(void);

/* Broadcasts "Module Scan" out of every network adapter that is up, can
 * broadcast and has an IPv4 address (loopback excepted), looked up at each
 * call. 1 when the datagram was handed to the network through at least one
 * adapter; 0 with no usable adapter. Replies still queued from before are
 * dropped: they answer an earlier request. When the computer loses replies
 * of this scan (its receive buffer overflowed), the library sends the scan
 * again once the replies have stopped coming, and goes on while a repeat
 * still loses replies and still brings modules that had not answered
 * before, at most four times: so modules answer twice or more, and a
 * program keeps the first reply of each MAC address. */
QORT_EXPORT int QORT_SendModuleScan(void);

/* Replies the kernel dropped on the library's socket (its receive buffer
 * was full: the computer was too busy, or the buffer too small) since the
 * latest QORT_SendModuleScan, after its repeats: those of the scan when it
 * was not repeated, else those of its last repeat, and while that repeat's
 * replies are still coming also those of the round before it. Repeats go
 * on for a while after a scan; ask when the program stops listening. A
 * program tells the user when this is not 0, since modules may be missing
 * from its list (or their lost replies may have been second ones: the
 * kernel cannot tell). 0 when none were dropped, before the first scan, and
 * when the system does not count drops (unknown). */
QORT_EXPORT uint32_t QORT_GetLostReplyCount(void);

/* Configure and wink go out of every usable adapter, as the scan does. */

/* Broadcasts the Configure request built from request. Nothing is sent
 * when one of the text fields it would carry has no NUL within its 128
 * bytes: the request is never cut short. */
QORT_EXPORT void QORT_SendConfigure(const QORT_ConfigureRequestType* request);

/* Broadcasts the wink request for request->MacId. */
QORT_EXPORT void QORT_SendWink(const QORT_ConfigureRequestType* request);

/* Replaces the callback; null stops the calls (replies are still queued). */
QORT_EXPORT void QORT_RegisterCallBack(QORT_CallBackType callback);

/* What the callback may rely on, and when it can still run:
 * - QORT_RegisterCallBack returns at once and waits for nothing: a call of
 *   the previous callback that had already begun on the receive thread may
 *   still be running, or about to begin, when it returns, also after
 *   QORT_RegisterCallBack(NULL).
 * - The receive thread runs until the library is unloaded. For a program
 *   linked with the library that is after main() has returned and after the
 *   program's own static objects have been destroyed, so the callback can
 *   be called while, or after, they are destroyed.
 * So the callback must touch nothing that its owner may destroy without
 * first shutting it out. Keep what it uses in storage that is never freed
 * (for example an object allocated once and never deleted), or guard it with
 * a lock of your own: the callback checks a "closed" flag under that lock
 * and does its work while holding it; before destroying the state, set the
 * flag under the same lock. Once that has happened no call is using the
 * state, even one already running when the callback was replaced. Never
 * call a QORT_ function while holding that lock: the callback takes it with
 * the library's lock held, so that function would wait for the library's
 * lock until its 1000 ms bound runs out and then do nothing. */

/* 1: the oldest queued reply was copied into response and removed.
 * 0: none waits; response is left untouched. The queue holds at most 16384
 * replies; beyond that the oldest are dropped, so a code may find none. */
QORT_EXPORT int QORT_GetResponse(QORT_ModuleScanResponseType* response);

/* 1: the MAC of the oldest invalid-password entry was copied into macId
 * (six bytes); the entry stays queued. 0: the queue is empty. */
QORT_EXPORT int QORT_GetInvPswdMacId(uint8_t* macId);

/* Removes the oldest invalid-password entry; nothing when there is none. */
QORT_EXPORT void QORT_RemoveFirstInvPswdMacId(void);

/* Which module answered "Reconfigured:". Each such answer queues the MAC
 * that follows the word (bytes it does not give read 0xFF) before code
 * QORT_CB_RECONFIGURED is raised; the queue holds at most 256 entries,
 * beyond that the oldest are dropped. Shaped like the invalid-password
 * queue: 1: the oldest entry's six bytes were copied into macId, the entry
 * stays queued. 0: the queue is empty. */
QORT_EXPORT int QORT_GetReconfiguredMacId(uint8_t* macId);

/* Removes the oldest "Reconfigured:" entry; nothing when there is none. */
QORT_EXPORT void QORT_RemoveFirstReconfiguredMacId(void);

/* Writes 1, 1, 2 and DLLVER_PLATFORM_WINDOWS; returns 0. cbSize is not read. */
QORT_EXPORT long QORT_DLLVERSION_CALL DllGetVersion(DLLVERSIONINFO* info);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The records are shared byte for byte with callers built elsewhere: pin
 * their size and offsets under the platform's natural C alignment. */
#ifdef __cplusplus
#include <cstddef>
#define QORT_STATIC_ASSERT static_assert
#else
#include <stddef.h>
#define QORT_STATIC_ASSERT _Static_assert
#endif
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, FbType) == 3, "FbType offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, ModuleVersionBuild) == 134, "ModuleVersionBuild offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, MacId) == 137, "MacId offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, IpAddr) == 144, "IpAddr offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, SubnetMask) == 152, "SubnetMask offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, Gateway) == 160, "Gateway offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, Dhcp) == 165, "Dhcp offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, HostName) == 169, "HostName offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, HostNameValid) == 297, "HostNameValid offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, Dns1) == 300, "Dns1 offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, Dns2) == 308, "Dns2 offset");
QORT_STATIC_ASSERT(offsetof(QORT_ModuleScanResponseType, Dns2Valid) == 312, "Dns2Valid offset");
QORT_STATIC_ASSERT(sizeof(QORT_ModuleScanResponseType) == 316, "QORT_ModuleScanResponseType size");

QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, Password) == 6, "Password offset");
QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, ChangePassword) == 134, "ChangePassword offset");
QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, NewPassword) == 135, "NewPassword offset");
QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, IpAddr) == 264, "IpAddr offset");
QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, SubnetMask) == 268, "SubnetMask offset");
QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, Gateway) == 272, "Gateway offset");
QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, Dhcp) == 276, "Dhcp offset");
QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, HostName) == 277, "HostName offset");
QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, Dns1) == 408, "Dns1 offset");
QORT_STATIC_ASSERT(offsetof(QORT_ConfigureRequestType, Dns2) == 412, "Dns2 offset");
QORT_STATIC_ASSERT(sizeof(QORT_ConfigureRequestType) == 416, "QORT_ConfigureRequestType size");
QORT_STATIC_ASSERT(sizeof(DLLVERSIONINFO) == 20, "DLLVERSIONINFO size");
#undef QORT_STATIC_ASSERT

#endif /* QORT_H */
