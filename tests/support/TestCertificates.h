#pragma once

#include <string>

// Certificates for TLS tests, made once per test process with the openssl command in a temporary
// folder: a test CA and, signed by it, a server certificate for localhost, 127.0.0.1 and ::1, one
// for another host name only, one that names localhost in its subject alone (no alternative names)
// and one that expired in 2020; besides a self-signed one for the same names. Keys are P-256, so making them
// all takes a fraction of a second.
//
//   const TestCertificates& certificates = TestCertificates::Get();
//   if (!certificates.Ok()) GTEST_SKIP() << certificates.Error();
//   const ScopedEnv trust("SSL_CERT_FILE", certificates.CAFile.c_str());
class TestCertificates {
public:
    // A certificate file and its key file (PEM).
    struct TPair {
        std::string Certificate;
        std::string Key;
    };

    // The set of this process, made at the first call (from any thread).
    static const TestCertificates& Get();

    // Whether every file was made; otherwise Error() says why (no openssl command, a failed step).
    bool Ok() const { return FError.empty(); }
    const std::string& Error() const { return FError; }

    // The CA certificate, for SSL_CERT_FILE.
    std::string CAFile;
    // A folder holding only the CA certificate under its hash name, for SSL_CERT_DIR.
    std::string CADir;
    // For localhost, 127.0.0.1 and ::1.
    TPair Good;
    // For "wrong.test" only.
    TPair WrongHost;
    // Subject CN=localhost and no subjectAltName, as certificates were made before browsers
    // stopped reading the subject.
    TPair CommonNameOnly;
    // For the names of Good, valid from 1 January to 1 February 2020.
    TPair Expired;
    // For the names of Good, signed by its own key.
    TPair SelfSigned;

private:
    TestCertificates();
    std::string FError;
};
