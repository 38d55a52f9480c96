#include "support/loopback.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zavr::test {

int ListenOnLoopback(int& port, bool inheritable) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | (inheritable ? 0 : SOCK_CLOEXEC), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 128) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("test: cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace zavr::test
