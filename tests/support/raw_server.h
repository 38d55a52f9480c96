// A bare TCP server on 127.0.0.1 for what a well-behaved HTTP library will not do: reset a connection
// mid-body, send less than it announced, close before answering, redirect in a loop, never end.
// Requests come in proxy form; every connection's request is handed to the test's handler.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zavr::test {

class RawServer {
  public:
    // handler(fd, target): answers the request on fd as it likes; the server closes fd afterwards
    // unless the handler did (then it returns -1 through CloseWithReset or sets fd to -1).
    using Handler = std::function<void(int& fd, const std::string& target)>;

    explicit RawServer(Handler handler);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int Port() const { return port_; }
    std::string ProxyAddress() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // Writes all of text; false once the peer has gone.
    static bool Send(int fd, const std::string& text);
    // Closes so that the peer sees a reset instead of an orderly end.
    static void CloseWithReset(int& fd);
    // A complete response with a body.
    static std::string Response(int status, const std::string& body, const std::string& headers = "");

  private:
    void Serve(int fd);

    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<std::thread> connections_;
};

}  // namespace zavr::test
