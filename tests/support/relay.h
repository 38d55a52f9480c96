// A TCP relay on 127.0.0.1 in front of one upstream port, as a user's network would put it: every
// chunk a client sends reaches the upstream a fixed delay later. A connection that opens with CONNECT
// (a client told to use the relay as its HTTPS proxy) is answered as a proxy would, then relayed.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zavr::test {

class Relay {
  public:
    // Listens on a free port at once; connections queue until they are served.
    Relay(int upstreamPort, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // Ends every connection and waits for their threads.
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>", for a client's http_proxy or https_proxy.
    std::string ProxyAddress() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // Connections accepted so far.
    int Connections() const { return connections_; }

  private:
    void Accept();
    void Pipe(int client);

    int upstreamPort_;
    std::chrono::milliseconds delay_;
    int listener_ = -1;
    int port_ = 0;
    int stop_[2] = {-1, -1};  // written once to wake every thread
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace zavr::test
