/*
 * librmemcap: loaded with LD_PRELOAD into a program (sorvinda) so that its
 * sockets get the receive buffer an ordinary user gets under Debian's
 * default net.core.rmem_max: SO_RCVBUF capped at kRmemMax, SO_RCVBUFFORCE
 * refused as without CAP_NET_ADMIN. The sysctl itself is read-only inside
 * a network namespace, and changing it outside would change it for the
 * whole machine. See bench/README.md.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>

enum { kRmemMax = 212992 };

typedef int (*SetSockOpt)(int, int, int, const void*, socklen_t);

int setsockopt(int fd, int level, int name, const void* value, socklen_t length)
{
    static SetSockOpt real;
    if (real == NULL) {
        void* symbol = dlsym(RTLD_NEXT, "setsockopt");
        memcpy(&real, &symbol, sizeof real); /* no ISO C cast from an object pointer */
    }
    if (level == SOL_SOCKET && name == SO_RCVBUFFORCE) {
        errno = EPERM;
        return -1;
    }
    if (level == SOL_SOCKET && name == SO_RCVBUF && length == sizeof(int) && *(const int*)value > kRmemMax) {
        const int capped = kRmemMax;
        return real(fd, level, name, &capped, sizeof capped);
    }
    return real(fd, level, name, value, length);
}
