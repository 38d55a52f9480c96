#include "support/nginx.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstdlib>
#include <stdexcept>

#include "support/loopback.h"
#include "support/process.h"

namespace zavr::test {
namespace {

void Openssl(const std::vector<std::string>& args) {
    const ProcessResult result = RunProcess("/usr/bin/openssl", args, {{"PATH", "/usr/bin:/bin"}});
    if (result.exitCode != 0) throw std::runtime_error("test: openssl failed: " + result.err);
}

}  // namespace

std::string NginxProgram() {
    for (const char* path : {"/usr/sbin/nginx", "/usr/bin/nginx"})
        if (::access(path, X_OK) == 0) return path;
    return std::string();
}

Certificate MakeAuthority(const std::string& folder, const std::string& name) {
    Certificate authority{folder + "/" + name + ".pem", folder + "/" + name + ".key"};
    Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "2",
             "-subj", "/CN=" + name, "-keyout", authority.key, "-out", authority.certificate});
    return authority;
}

Certificate MakeServerCertificate(const std::string& folder, const std::string& name,
                                  const Certificate& authority, const std::string& subjectAltName) {
    Certificate server{folder + "/" + name + ".pem", folder + "/" + name + ".key"};
    const std::string request = folder + "/" + name + ".csr";
    const std::string extensions = folder + "/" + name + ".ext";
    WriteFile(extensions, "subjectAltName=" + subjectAltName + "\n");
    Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=" + name,
             "-keyout", server.key, "-out", request});
    Openssl({"x509", "-req", "-in", request, "-CA", authority.certificate, "-CAkey", authority.key,
             "-CAcreateserial", "-days", "2", "-extfile", extensions, "-out", server.certificate});
    return server;
}

Nginx::Nginx(const std::string& root, const Certificate& tls) {
    const std::string program = NginxProgram();
    if (program.empty()) throw std::runtime_error("test: nginx is not installed");
    const int listener = ListenOnLoopback(port_, true);

    const std::string d = dir_.Path();
    std::string listen = "listen 127.0.0.1:" + std::to_string(port_);
    std::string server;
    if (!tls.certificate.empty()) {
        listen += " ssl http2";
        server = "ssl_certificate " + tls.certificate + ";\n    ssl_certificate_key " + tls.key + ";\n    ";
    }
    WriteFile(d + "/nginx.conf",
              std::string("daemon off;\nworker_processes 1;\n") + (::geteuid() == 0 ? "user root;\n" : "") +
                  "pid " + d + "/nginx.pid;\nerror_log " + d +
                  "/error.log;\n"
                  "events { worker_connections 512; }\n"
                  "http {\n"
                  "  log_format zavr '$request $status $body_bytes_sent $connection $server_protocol';\n"
                  "  access_log " +
                  d +
                  "/access.log zavr;\n"
                  "  client_body_temp_path " +
                  d + "/body; proxy_temp_path " + d +
                  "/proxy;\n"
                  "  fastcgi_temp_path " +
                  d + "/fastcgi; uwsgi_temp_path " + d +
                  "/uwsgi;\n"
                  "  scgi_temp_path " +
                  d +
                  "/scgi;\n"
                  "  server {\n    " +
                  listen + ";\n    " + server + "include " + root + "/zavr-locations.conf;\n  }\n}\n");
    pid_ = ::fork();
    if (pid_ == 0) {
        // nginx takes the bound socket instead of binding the port again (its binary-upgrade hand-over).
        const std::string inherited = std::to_string(listener) + ";";
        ::setenv("NGINX", inherited.c_str(), 1);
        ::execl(program.c_str(), program.c_str(), "-p", d.c_str(), "-e", (d + "/error.log").c_str(), "-c",
                (d + "/nginx.conf").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(listener);
    if (pid_ < 0) throw std::runtime_error("test: cannot start nginx");
}

Nginx::~Nginx() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

std::string Nginx::AccessLog() const {
    // nginx makes its log only once it has started, which a test asking early may not wait for.
    if (!boost::filesystem::exists(dir_ / "access.log")) return std::string();
    return ReadFile(dir_ / "access.log");
}

}  // namespace zavr::test
