// The update server's endpoints over a release tree (see release.h).
#pragma once

#include <httplib.h>

#include "release.h"
#include "signing.h"

namespace zavr::devserver {

// Adds the routes to server:
//   GET /products/<sim>/<aircraft>/<row>.json     the document as it is
//   GET /totals?product=<id>&version=<v>          [{"TotalFiles": n, "TotalFileSize": kilobytes}]
//   GET /filelist?product=<id>&version=<v>        [{"Folder", "FilePath", "FileSize", "MD5Hash"}, ...]
//   GET /files/<sim>/<aircraft>/<row>/<path>      the current copy of a file
// and, with a signing key, the signature of each reply at its address with ".sig" added to the path:
//   GET /products/<sim>/<aircraft>/<row>.json.sig
//   GET /filelist.sig?product=<id>&version=<v>
// Requests may also come in the absolute form a proxy receives ("GET http://host/totals?...").
// What is missing answers 404, a malformed query 400. release and key must outlive the server.
void MountRelease(httplib::Server& server, Release& release, const SigningKey* key = nullptr);

// Binds server to 127.0.0.1:port (0: a free port), logs each request on standard output, prints
// "Serving <root> on http://127.0.0.1:<port>/" once it accepts connections, and serves until SIGINT or
// SIGTERM. Returns the process exit status: 0 after a stop, 1 when the port cannot be had.
int ServeUntilStopped(httplib::Server& server, const std::string& root, int port);

}  // namespace zavr::devserver
