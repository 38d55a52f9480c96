// A listening socket on a free port of 127.0.0.1, for the tests' servers.
#pragma once

namespace zavr::test {

// Binds and listens, so that connections queue from here on, and sets port. The socket is closed on
// exec unless inheritable (a child that serves it). Throws std::runtime_error when it cannot listen.
int ListenOnLoopback(int& port, bool inheritable = false);

}  // namespace zavr::test
