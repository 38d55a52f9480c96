// Debian's nginx serving an exported release on a free loopback port, started for a test and stopped
// after it; and certificates made for it with the openssl tool.
#pragma once

#include <string>

#include "support/sandbox.h"

namespace zavr::test {

// The nginx program, or empty when it is not installed.
std::string NginxProgram();

struct Certificate {
    std::string certificate;  // PEM files
    std::string key;
};

// A new certificate authority in folder (name.pem, name.key).
Certificate MakeAuthority(const std::string& folder, const std::string& name);
// A server certificate for subjectAltName ("IP:127.0.0.1", "DNS:other.example"), signed by authority.
Certificate MakeServerCertificate(const std::string& folder, const std::string& name,
                                  const Certificate& authority, const std::string& subjectAltName);

class Nginx {
  public:
    // Serves the export at root (its zavr-locations.conf) over HTTPS with HTTP/2 when tls names a
    // certificate, else over plain HTTP/1.1. The port is bound here and handed to nginx, so it takes
    // connections from the start. Throws std::runtime_error when nginx cannot start.
    Nginx(const std::string& root, const Certificate& tls = {});
    // Stops nginx and waits for it.
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    int Port() const { return port_; }
    // One line per request: "<request> <status> <body bytes> <connection number> <protocol>".
    std::string AccessLog() const;

  private:
    TempDir dir_;
    int port_ = 0;
    int pid_ = -1;
};

}  // namespace zavr::test
