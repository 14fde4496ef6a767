#pragma once
// A listening TCP socket on 127.0.0.1 at a port the kernel picks, for scripted servers.

#include <QtGlobal>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Returns the socket (or -1) and sets port to where it listens.
inline int listenOnLoopback(quint16 &port, int backlog = 4)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        port = 0;
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}
