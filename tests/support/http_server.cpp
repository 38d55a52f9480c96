#include "support/http_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zavr::test {
namespace {

// Returns once the server's accept loop runs. A connection waits in the listen queue until the loop
// takes it, and the loop answers a blank line at once (a 400, or for TLS a failed handshake and a
// close): so the first read waits exactly for the loop. No handler sees the probe; nothing is recorded.
void WaitUntilServing(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("test: cannot reach the server's port");
    ::send(fd, "\r\n", 2, MSG_NOSIGNAL);
    char answer[512];
    [[maybe_unused]] const ssize_t got = ::read(fd, answer, sizeof answer);
    ::close(fd);
}

}  // namespace

TestServer::TestServer() : TestServer(std::make_unique<httplib::Server>()) {}

TestServer::TestServer(std::unique_ptr<httplib::Server> server)
    : server_(std::move(server)),
      scheme_(dynamic_cast<httplib::SSLServer*>(server_.get()) ? "https" : "http") {
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("test: cannot bind a port on 127.0.0.1");
    // Recorded before the request is answered, so a client that has its answer finds it listed.
    server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request.target);
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

TestServer::~TestServer() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

void TestServer::Get(const std::string& pattern, httplib::Server::Handler handler) {
    server_->Get("(?:https?://[^/]+)?" + pattern, std::move(handler));
}

void TestServer::Start() {
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // Connections queue from here on; waiting for the loop itself also lets the destructor's stop()
    // reach it (a stop before the loop starts would be lost, and the join would hang).
    WaitUntilServing(port_);
}

std::string TestServer::Url(const std::string& path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::string TestServer::ProxyAddress() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> TestServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("test: cannot find a free port");
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace zavr::test
