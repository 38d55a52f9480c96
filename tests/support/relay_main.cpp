// zavr-test-relay: the tests' relay as a program, for the benchmarks and the Wine scenarios.
//   zavr-test-relay UPSTREAM-PORT [DELAY-MS]
// Listens on a free port of 127.0.0.1, prints "Relaying http://127.0.0.1:PORT/ to UPSTREAM-PORT" once
// it takes connections, and relays (CONNECT included) until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <string>

#include "support/relay.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: zavr-test-relay UPSTREAM-PORT [DELAY-MS]\n");
        return 2;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    // Blocked before the relay's threads start, so that only the wait below receives them.
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    zavr::test::Relay relay(std::stoi(argv[1]),
                            std::chrono::milliseconds(argc == 3 ? std::stoi(argv[2]) : 0));
    std::printf("Relaying %s/ to %s\n", relay.ProxyAddress().c_str(), argv[1]);
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
