#include "NginxFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "TempDir.h"
#include "platform/Files.h"

namespace {

// The first port the system hands out by itself (for port 0 and for the source of a connect).
int FirstEphemeralPort() {
    int low = 32768;
    if (FILE* file = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        if (std::fscanf(file, "%d", &low) != 1)
            low = 32768;
        std::fclose(file);
    }
    return low;
}

// Whether port can be bound on ::1 now.
bool FreeOnIPv6Loopback(int port) {
    const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        return false;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return free;
}

// A free port below the range the system hands out by itself, so that neither another test's
// server nor the source of some connect takes it before nginx binds it; other fixtures may
// still pick it, which the caller's retry covers. With ipv6, free on ::1 as well.
int FreePort(bool ipv6 = false) {
    const int low = 10000;
    const int high = std::max(low + 1000, FirstEphemeralPort());
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int port = std::uniform_int_distribution<int>(low, high - 1)(random);
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd == -1)
            return 0;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        close(fd);
        if (free && (!ipv6 || FreeOnIPv6Loopback(port)))
            return port;
    }
    return 0;
}

// True when nginx itself answers on the port. A bare connect is not enough: between the probe for
// a free port and nginx's bind, another test may listen on that port, or the probe's own connect
// may pick the port as its source and meet itself.
bool NginxAnswers(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        const std::string request = "HEAD / HTTP/1.0\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            char buffer[1024];
            while (answer.find("\r\n\r\n") == std::string::npos &&
                   std::chrono::steady_clock::now() < deadline) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0)
                    continue;
                const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
                if (n <= 0)
                    break;
                answer.append(buffer, static_cast<size_t>(n));
            }
        }
    }
    close(fd);
    return answer.rfind("HTTP/1.", 0) == 0 && answer.find("\r\nServer: nginx") != std::string::npos;
}

// The output of "nginx -V", to leave out directives of modules the build lacks.
std::string BuildOptions(const std::string& binary) {
    std::string text;
    FILE* pipe = popen(("'" + binary + "' -V 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        text.append(buffer, n);
    pclose(pipe);
    return text;
}

} // namespace

NginxFixture::NginxFixture() = default;

NginxFixture::~NginxFixture() {
    Stop();
}

std::string NginxFixture::Binary() {
    const char* custom = std::getenv("TOVEL_NGINX");
    return custom != nullptr && *custom != '\0' ? custom : "/usr/sbin/nginx";
}

bool NginxFixture::Available() {
    return access(Binary().c_str(), X_OK) == 0;
}

std::string NginxFixture::Root() const {
    return FDir ? FDir->Path() + "www/" : std::string();
}

std::string NginxFixture::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string NginxFixture::TlsUrl(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(FTlsPort) + path;
}

void NginxFixture::EnableTls(const std::string& certificateFile, const std::string& keyFile) {
    FCertificate = certificateFile;
    FKey = keyFile;
}

void NginxFixture::EnableIPv6() {
    FIPv6 = true;
}

void NginxFixture::EnableGzip() {
    FGzip = true;
}

std::string NginxFixture::WriteFile(const std::string& relativePath, const std::string& bytes) const {
    const std::string path = Root() + relativePath;
    const size_t slash = path.rfind('/');
    ForceDirectories(path.substr(0, slash));
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

std::string NginxFixture::ErrorLog() const {
    return FDir ? FDir->Read("error.log") : std::string();
}

bool NginxFixture::Start() {
    if (Running())
        return true;
    if (!Available()) {
        FError = "nginx is not installed (" + Binary() + "); install nginx-light to run this test";
        return false;
    }
    // Another process may take the free port between the probe and nginx's bind: try again.
    const std::string options = BuildOptions(Binary());
    for (int attempt = 0; attempt < 5; ++attempt)
        if (StartOnce(options))
            return true;
    return false;
}

bool NginxFixture::StartOnce(const std::string& options) {
    if (!FDir) {
        FDir = std::make_unique<TempDir>();
        ForceDirectories(FDir->Path() + "www");
        ForceDirectories(FDir->Path() + "temp");
    }
    FPort = FreePort(FIPv6);
    FTlsPort = FCertificate.empty() ? 0 : FreePort(FIPv6);
    if (FPort == 0 || (!FCertificate.empty() && (FTlsPort == 0 || FTlsPort == FPort))) {
        FError = "nginx: no free port" + std::string(FIPv6 ? " on 127.0.0.1 and ::1" : "");
        return false;
    }
    const std::string dir = FDir->Path();
    const std::string root = "        root " + dir + "www;\n";
    const auto listen = [&](int port, const char* suffix) {
        std::string text = "        listen 127.0.0.1:" + std::to_string(port) + suffix + ";\n";
        if (FIPv6)
            text += "        listen [::1]:" + std::to_string(port) + suffix + ";\n";
        return text;
    };
    std::string servers = "    server {\n" + listen(FPort, "") + root + "    }\n";
    if (!FCertificate.empty())
        servers += "    server {\n" + listen(FTlsPort, " ssl") + root + "        ssl_certificate " +
                   FCertificate + ";\n        ssl_certificate_key " + FKey + ";\n    }\n";
    const std::string gzip = FGzip ? "    gzip on;\n    gzip_min_length 1;\n    gzip_types text/xml "
                                     "application/atom+xml application/rss+xml;\n"
                                   : "";
    std::string temps = "    client_body_temp_path " + dir + "temp/body;\n";
    for (const char* module : {"proxy", "fastcgi", "uwsgi", "scgi"})
        if (options.find(std::string("--without-http_") + module + "_module") == std::string::npos)
            temps += std::string("    ") + module + "_temp_path " + dir + "temp/" + module + ";\n";
    const std::string config = std::string("daemon off;\nmaster_process off;\nworker_processes 1;\n") +
                               (geteuid() == 0 ? "user root root;\n" : "") + "pid " + dir +
                               "nginx.pid;\nerror_log " + dir +
                               "error.log warn;\n"
                               "events {\n    worker_connections 512;\n}\n"
                               "http {\n    access_log " +
                               dir + "access.log;\n" + temps +
                               "    default_type application/octet-stream;\n"
                               "    types {\n        text/html html;\n        text/xml xml rss;\n"
                               "        application/atom+xml atom;\n    }\n" +
                               gzip + servers + "}\n";
    FDir->Write("nginx.conf", config);

    const std::string binary = Binary();
    const std::string prefix = dir;
    const std::string confPath = dir + "nginx.conf";
    const std::string logPath = dir + "error.log";
    // The child's output goes to the error log, not into the test's.
    const int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t pid = fork();
    if (pid == -1) {
        if (logFd != -1)
            close(logFd);
        FError = "nginx: fork failed";
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec: the tests run threads.
        if (logFd != -1) {
            dup2(logFd, 1);
            dup2(logFd, 2);
        }
        execl(binary.c_str(), binary.c_str(), "-p", prefix.c_str(), "-c", confPath.c_str(), "-e",
              logPath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (logFd != -1)
        close(logFd);
    FPid = pid;
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            FError = "nginx did not start: " + ErrorLog();
            return false;
        }
        if (NginxAnswers(FPort))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FError = "nginx did not accept connections within 5 s: " + ErrorLog();
    Stop();
    return false;
}

void NginxFixture::Stop() {
    if (FPid <= 0)
        return;
    kill(FPid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
            FPid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
}
