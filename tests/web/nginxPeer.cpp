#include "nginxPeer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "loopbackClient.h"
#include "testSupport.h"
#include "webTestSupport.h"

extern char** environ;

namespace webtest {

namespace {

bool executable(const std::string& path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string nginxPeer::program()
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string d;
    while (std::getline(dirs, d, ':'))
        if (!d.empty() && executable(d + "/nginx")) return d + "/nginx";
    return executable("/usr/sbin/nginx") ? "/usr/sbin/nginx" : "";
}

nginxPeer::nginxPeer(const std::string& program)
{
    char name[] = "/tmp/fuelweb_nginx_XXXXXX";
    if (::mkdtemp(name) == nullptr) return;
    dir = name;
    listenPort = freePort();
    writeConfig();
    std::string bin = program, p = "-p", c = "-c", e = "-e", conf = dir + "/nginx.conf",
                startLog = dir + "/error.log";
    char* argv[] = {bin.data(),  p.data(), dir.data(),      c.data(),
                    conf.data(), e.data(), startLog.data(), nullptr};
    if (posix_spawn(&pid, bin.c_str(), nullptr, nullptr, argv, environ) != 0) {
        pid = -1;
        return;
    }
    listening = testsupport::waitFor(
        [this] {
            if (::waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                return true;  // it gave up: error.log says why
            }
            return testsupport::loopbackClient(listenPort).connected();
        },
        10000, 10);
    listening = listening && pid > 0;
}

nginxPeer::~nginxPeer()
{
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
}

std::string nginxPeer::error() const
{
    if (dir.empty()) return "no temporary directory";
    if (pid < 0 && !listening) return "nginx did not start: " + testsupport::readFile(dir + "/error.log");
    return "nginx does not answer on port " + std::to_string(listenPort);
}

// A request is answered 200 by a second server of the same nginx, on a socket in the directory:
// nginx reads a request's whole body before it passes the request on, so a request is served only
// once nginx has framed all of it (a "return" in the first server would answer before the body);
// a client that has ended its side still gets its answers, as from the front.
// Limits at least as wide as the front's (a 16 KB target, a 64 KB head, a 1 MiB body), so that
// the two differ only in how they read the bytes, not in the sizes they were given.
void nginxPeer::writeConfig() const
{
    std::ofstream f(dir + "/nginx.conf");
    f << "daemon off;\n"
         "master_process off;\n"
         "worker_processes 1;\n"
         "pid "
      << dir << "/nginx.pid;\n"
      << "error_log " << dir << "/error.log info;\n"
      << "events { worker_connections 512; }\n"
         "http {\n"
         "    access_log "
      << dir << "/access.log;\n"
      << "    client_body_temp_path " << dir << "/body;\n"
      << "    proxy_temp_path " << dir << "/proxy;\n"
      << "    fastcgi_temp_path " << dir << "/fastcgi;\n"
      << "    uwsgi_temp_path " << dir << "/uwsgi;\n"
      << "    scgi_temp_path " << dir << "/scgi;\n"
      << "    client_max_body_size 0;\n"
         "    large_client_header_buffers 8 80k;\n"
         "    keepalive_timeout 10s;\n"
         "    server {\n"
         "        listen 127.0.0.1:"
      << listenPort << ";\n"
      << "        location / { proxy_pass http://unix:" << dir
      << "/answer.sock:; proxy_ignore_client_abort on; }\n"
      << "    }\n"
         "    server {\n"
         "        listen unix:"
      << dir << "/answer.sock;\n"
      << "        location / { return 200 \"ok\\n\"; }\n"
         "    }\n"
         "}\n";
}

}  // namespace webtest
