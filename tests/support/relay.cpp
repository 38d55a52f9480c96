#include "support/relay.h"

#include "support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <deque>
#include <stdexcept>

namespace zavr::test {
namespace {

using Clock = std::chrono::steady_clock;

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

int ConnectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

}  // namespace

Relay::Relay(int upstreamPort, std::chrono::milliseconds delay) : upstreamPort_(upstreamPort), delay_(delay) {
    if (::pipe2(stop_, O_CLOEXEC) != 0) throw std::runtime_error("test: pipe");
    listener_ = ListenOnLoopback(port_);
    acceptor_ = std::thread([this] { Accept(); });
}

Relay::~Relay() {
    const char byte = 0;
    (void)!::write(stop_[1], &byte, 1);
    acceptor_.join();
    for (std::thread& thread : threads_) thread.join();
    ::close(listener_);
    ::close(stop_[0]);
    ::close(stop_[1]);
}

void Relay::Accept() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        ++connections_;
        std::lock_guard<std::mutex> lock(mutex_);
        threads_.emplace_back([this, client] { Pipe(client); });
    }
}

void Relay::Pipe(int client) {
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const int upstream = ConnectTo(upstreamPort_);
    std::deque<std::pair<Clock::time_point, std::string>> toUpstream;
    bool first = true;
    std::string opening;  // a CONNECT request until its blank line
    char buffer[64 * 1024];
    for (bool open = upstream >= 0; open;) {
        int timeout = -1;
        if (!toUpstream.empty()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(toUpstream.front().first -
                                                                                    Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, wait.count()));
        }
        pollfd fds[3] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (::poll(fds, 3, timeout) < 0) continue;
        if (fds[2].revents != 0) break;
        if (fds[0].revents != 0) {
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            std::string chunk(buffer, static_cast<std::size_t>(got));
            if (first && chunk.rfind("CONNECT ", 0) == 0)
                opening = std::move(chunk), chunk.clear();
            else if (!opening.empty())
                opening += chunk, chunk.clear();
            first = false;
            const std::size_t end = opening.find("\r\n\r\n");
            if (end != std::string::npos) {
                // What follows the request (a TLS hello sent at once) belongs to the tunnel.
                chunk = opening.substr(end + 4);
                opening.clear();
                const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
                if (!SendAll(client, established.data(), established.size())) break;
            }
            if (!chunk.empty()) toUpstream.emplace_back(Clock::now() + delay_, std::move(chunk));
        }
        if (fds[1].revents != 0) {
            const ssize_t got = ::recv(upstream, buffer, sizeof buffer, 0);
            if (got <= 0 || !SendAll(client, buffer, static_cast<std::size_t>(got))) break;
        }
        while (open && !toUpstream.empty() && toUpstream.front().first <= Clock::now()) {
            const std::string& chunk = toUpstream.front().second;
            open = SendAll(upstream, chunk.data(), chunk.size());
            toUpstream.pop_front();
        }
    }
    if (upstream >= 0) ::close(upstream);
    ::close(client);
}

}  // namespace zavr::test
