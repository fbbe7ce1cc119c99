#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

class TempDir;

// A private nginx for tests and benchmarks: its own configuration, document root and logs in a
// temporary folder, listening on 127.0.0.1 and a free port, in the foreground as one process.
// Static files get Last-Modified from their modification time. The destructor stops and reaps it.
// Before Start, it can be given a TLS listener on a second port (same document root), listeners
// on ::1 as well, and gzip for the feed types.
//
//   NginxFixture nginx;
//   nginx.EnableTls(certificates.Good.Certificate, certificates.Good.Key);
//   if (!nginx.Start()) GTEST_SKIP() << nginx.Error();
class NginxFixture {
public:
    NginxFixture();
    ~NginxFixture();
    NginxFixture(const NginxFixture&) = delete;
    NginxFixture& operator=(const NginxFixture&) = delete;

    // Whether an nginx binary is installed (/usr/sbin/nginx, or the path in TOVEL_NGINX).
    static bool Available();
    // The nginx binary used.
    static std::string Binary();

    // Serves https on TlsPort() with this certificate and key (PEM files); call before Start.
    void EnableTls(const std::string& certificateFile, const std::string& keyFile);
    // Listens on [::1] too, on the same ports; call before Start (which then fails where ::1
    // cannot be bound).
    void EnableIPv6();
    // Compresses text/xml, RSS and Atom answers of any size for clients that accept gzip; call
    // before Start.
    void EnableGzip();

    // Starts nginx and waits until it accepts connections (a few seconds at most); false with
    // Error() set when it is not installed or does not come up.
    bool Start();
    // Stops and reaps nginx (idempotent).
    void Stop();
    bool Running() const { return FPid > 0; }
    const std::string& Error() const { return FError; }

    int Port() const { return FPort; }
    // The document root, ending with "/".
    std::string Root() const;
    // "http://127.0.0.1:<port>" followed by path.
    std::string Url(const std::string& path) const;
    // The https port (0 without EnableTls), and "https://127.0.0.1:<port>" followed by path.
    int TlsPort() const { return FTlsPort; }
    std::string TlsUrl(const std::string& path) const;
    // Writes bytes to Root() + relativePath (creating folders) and returns the full path.
    std::string WriteFile(const std::string& relativePath, const std::string& bytes) const;
    // The text of nginx's error log, for failure messages.
    std::string ErrorLog() const;

private:
    // One attempt on a new free port, with the build options of the nginx binary.
    bool StartOnce(const std::string& options);
    std::unique_ptr<TempDir> FDir;
    pid_t FPid = -1;
    int FPort = 0;
    int FTlsPort = 0;
    std::string FCertificate;
    std::string FKey;
    bool FIPv6 = false;
    bool FGzip = false;
    std::string FError;
};
