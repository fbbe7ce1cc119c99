#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

class TempDir;

// A private nginx for tests and benchmarks: its own configuration, document root and logs in a
// temporary folder, listening on 127.0.0.1 and a free port, in the foreground as one process.
// Static files get Last-Modified from their modification time. The destructor stops and reaps it.
//
//   NginxFixture nginx;
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
    std::string FError;
};
