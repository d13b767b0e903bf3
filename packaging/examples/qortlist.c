/*
 * qortlist: lists the Ethernet field modules on the local network segment
 * through libqort - the smallest complete program built against the
 * installed library.
 *
 *   qortlist [WAIT_MS]
 *
 * Broadcasts one scan, lets the replies arrive for WAIT_MS milliseconds
 * (default 1500) and prints one line per module: MAC address, IP address
 * and module type. Exit status 0 when a module answered, 1 when none did,
 * 2 on bad use.
 *
 * Build it with pkg-config:
 *   cc qortlist.c $(pkg-config --cflags --libs qort) -o qortlist
 * or with CMake (CMakeLists.txt beside this file, find_package(qort)).
 *
 * The library queues every reply; without a callback the program simply
 * takes them from the queue once the wait is over. Replies that arrive later
 * are not listed.
 */
#define _POSIX_C_SOURCE 200809L

#include <qort.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

enum { DEFAULT_WAIT_MS = 1500, MAX_WAIT_MS = 60000, MS_PER_S = 1000, NS_PER_MS = 1000000 };

static int parse_wait(const char* text, long* wait_ms)
{
    char* end = NULL;
    errno = 0;
    *wait_ms = strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && *wait_ms >= 0 && *wait_ms <= MAX_WAIT_MS;
}

static void sleep_ms(long ms)
{
    struct timespec rest = {ms / MS_PER_S, (ms % MS_PER_S) * NS_PER_MS};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) { }
}

/* A module's text goes to a terminal: anything but printable ASCII becomes
 * '?', so a hostile reply cannot send escape sequences to it. */
static void print_text(const char* text, size_t size)
{
    for (size_t i = 0; i < size && text[i] != '\0'; ++i)
        putchar(text[i] >= 0x20 && text[i] <= 0x7E ? text[i] : '?');
}

static void print_module(const QORT_ModuleScanResponseType* module)
{
    const uint8_t* mac = module->MacId;
    const uint32_t ip = module->IpAddr;
    /* A field the module did not report holds 0xFF bytes and no NUL. */
    if (module->MacIdValid)
        printf("%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    else
        printf("%-17s", "?");
    if (module->IpAddrValid)
        printf("  %u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
    else
        printf("  ?");
    if (module->FbTypeValid) {
        printf("  ");
        print_text(module->FbType, QORT_TEXT_FIELD_SIZE);
    }
    printf("\n");
}

int main(int argc, char** argv)
{
    long wait_ms = DEFAULT_WAIT_MS;
    if (argc > 2 || (argc == 2 && !parse_wait(argv[1], &wait_ms))) {
        fprintf(stderr, "usage: qortlist [WAIT_MS]   (0 to %d)\n", MAX_WAIT_MS);
        return 2;
    }
    if (QORT_Start() != 1 || QORT_SendModuleScan() != 1) {
        fprintf(stderr, "qortlist: the scan could not be sent (is UDP port 3250 free?)\n");
        return 1;
    }
    sleep_ms(wait_ms);

    int modules = 0;
    QORT_ModuleScanResponseType module;
    while (QORT_GetResponse(&module) == 1) {
        print_module(&module);
        ++modules;
    }
    printf("%d module%s\n", modules, modules == 1 ? "" : "s");
    return modules > 0 ? 0 : 1;
}
