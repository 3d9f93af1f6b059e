/* Preloaded into the program by the start-up test: the Internet socket family is not
   available, as on a system without a network stack. Other families are left alone. */
#include <errno.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

int socket(int domain, int type, int protocol) {
    if (domain == AF_INET || domain == AF_INET6) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    return (int)syscall(SYS_socket, domain, type, protocol);
}
