#include "TestCertificates.h"

#include <sys/wait.h>

#include <cstdlib>
#include <memory>

#include "TempDir.h"
#include "platform/Files.h"

namespace {

// Runs a shell command with its output kept out of the test's; true when it succeeded.
bool Run(const std::string& command, const std::string& log) {
    const int status = std::system((command + " >>'" + log + "' 2>&1").c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The folder lives as long as the process: the files are read by every test.
TempDir& Folder() {
    static TempDir* const folder = new TempDir();
    return *folder;
}

} // namespace

const TestCertificates& TestCertificates::Get() {
    static const TestCertificates certificates;
    return certificates;
}

TestCertificates::TestCertificates() {
    const std::string dir = Folder().Path();
    const std::string log = dir + "openssl.log";
    const std::string newKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string names = "DNS:localhost,IP:127.0.0.1,IP:::1";
    Folder().Write("server.ext",
                   "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=" + names + "\n");
    Folder().Write("wrong.ext", "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                                "subjectAltName=DNS:wrong.test\n");
    Folder().Write("cn-only.ext", "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
    // openssl ca, the one way to give a certificate a validity that has already ended.
    Folder().Write("ca.cnf",
                   "[ca]\ndefault_ca = test\n[test]\ndatabase = " + dir +
                       "index.txt\nnew_certs_dir = " + dir + "\nserial = " + dir +
                       "serial\ndefault_md = sha256\npolicy = any\n"
                       "unique_subject = no\nx509_extensions = server\n[any]\ncommonName = supplied\n"
                       "[server]\nbasicConstraints = CA:FALSE\nsubjectAltName = " +
                       names + "\n");
    Folder().Write("index.txt", "");
    Folder().Write("serial", "1000\n");
    ForceDirectories(dir + "trusted");

    CAFile = dir + "ca.pem";
    CADir = dir + "trusted/";
    Good = {dir + "good.pem", dir + "good.key"};
    WrongHost = {dir + "wrong.pem", dir + "wrong.key"};
    CommonNameOnly = {dir + "cn-only.pem", dir + "cn-only.key"};
    Expired = {dir + "expired.pem", dir + "expired.key"};
    SelfSigned = {dir + "self.pem", dir + "self.key"};

    const std::string openssl = "cd '" + dir + "' && openssl ";
    const auto request = [&](const std::string& name, const std::string& subject) {
        return openssl + "req -new " + newKey + " -keyout " + name + ".key -out " + name + ".csr -subj " +
               subject;
    };
    const auto sign = [&](const std::string& name, const std::string& extensions, const std::string& serial) {
        return openssl + "x509 -req -in " + name + ".csr -CA ca.pem -CAkey ca.key -set_serial " + serial +
               " -days 3650 -sha256 -extfile " + extensions + " -out " + name + ".pem";
    };
    const std::string steps[] = {
        openssl + "req -x509 " + newKey + " -keyout ca.key -out ca.pem -days 3650 -subj '/CN=Tovel Test CA'" +
            " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign",
        request("good", "/CN=localhost"),
        sign("good", "server.ext", "11"),
        request("wrong", "/CN=wrong.test"),
        sign("wrong", "wrong.ext", "12"),
        request("cn-only", "/CN=localhost"),
        sign("cn-only", "cn-only.ext", "13"),
        request("expired", "/CN=localhost"),
        openssl + "ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out " +
            "expired.pem -startdate 20200101000000Z -enddate 20200201000000Z",
        openssl + "req -x509 " + newKey + " -keyout self.key -out self.pem -days 3650 -subj /CN=localhost" +
            " -addext subjectAltName=" + names,
        "cp '" + CAFile + "' '" + CADir + "' && openssl rehash '" + CADir + "'",
    };
    if (!Run("command -v openssl", log)) {
        FError = "the openssl command is not installed; install openssl to run this test";
        return;
    }
    for (const std::string& step : steps)
        if (!Run(step, log)) {
            FError = "making the test certificates failed at: " + step + "\n" + Folder().Read("openssl.log");
            return;
        }
}
