// A real HTTP(S) server for tests: bound to 127.0.0.1 on a free port, serving on its own thread.
// Routes also match requests in the absolute form ("GET http://host:port/path"), so a child process
// told to use it as its HTTP proxy reaches it whatever address was built into the program.
#pragma once

#include <httplib.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zavr::test {

class TestServer {
  public:
    // A plain HTTP server, or the given server (an httplib::SSLServer, say).
    TestServer();
    explicit TestServer(std::unique_ptr<httplib::Server> server);
    // Stops the server and waits for its thread.
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Registers a GET route; pattern is a regular expression over the path.
    void Get(const std::string& pattern, httplib::Server::Handler handler);
    // Serves from now on; returns once the server accepts connections.
    void Start();

    int Port() const { return port_; }
    std::string Url(const std::string& path = "/") const;
    // "http://127.0.0.1:<port>", for a child's http_proxy.
    std::string ProxyAddress() const;
    // The request targets served so far, in order.
    std::vector<std::string> Requests() const;
    httplib::Server& Http() { return *server_; }

  private:
    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    int port_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

// A port on 127.0.0.1 on which nothing listens (bound, then closed).
int ClosedPort();

}  // namespace zavr::test
