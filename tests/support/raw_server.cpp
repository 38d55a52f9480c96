#include "support/raw_server.h"

#include "support/loopback.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zavr::test {

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ListenOnLoopback(port_);
    // The socket listens from here on, so connections queue before the accept loop runs.
    thread_ = std::thread([this] {
        while (!stopping_) {
            pollfd ready{listener_, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) connections_.emplace_back([this, fd] { Serve(fd); });
        }
    });
}

RawServer::~RawServer() {
    stopping_ = true;
    thread_.join();
    for (std::thread& connection : connections_) connection.join();
    ::close(listener_);
}

void RawServer::Serve(int fd) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd ready{fd, POLLIN, 0};
        if (stopping_ || ::poll(&ready, 1, 50) < 0) break;
        if (ready.revents == 0) continue;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t start = request.find(' ');
    const std::size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
    int open = fd;
    if (end != std::string::npos) handler_(open, request.substr(start + 1, end - start - 1));
    if (open >= 0) ::close(open);
}

bool RawServer::Send(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t put = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

void RawServer::CloseWithReset(int& fd) {
    const linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
    fd = -1;
}

std::string RawServer::Response(int status, const std::string& body, const std::string& headers) {
    return "HTTP/1.1 " + std::to_string(status) +
           " Whatever\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
           headers + "\r\n" + body;
}

}  // namespace zavr::test
