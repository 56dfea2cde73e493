// TestCerts: a small PKI for TLS tests, made with the openssl command-line
// tool into a temporary folder that lives as long as the object.
//
// All certificates are EC P-256, PEM files. The server certificates name
// 127.0.0.1 and localhost (except wrongHost, which names only
// "wrong.example"); every one except selfSigned chains to `ca`, and `chained`
// through `intermediate`. Construction takes a few hundred milliseconds;
// it throws std::runtime_error when openssl fails.
#pragma once

#include <string>

#include "support/TestSupport.h"

namespace pellix::test {

class TestCerts {
public:
    struct Pair {
        std::string cert;  // PEM certificate file (for `chained`: leaf then intermediate)
        std::string key;   // PEM private key file (unencrypted)
    };

    TestCerts();
    TestCerts(const TestCerts&) = delete;
    TestCerts& operator=(const TestCerts&) = delete;

    const std::string& dir() const { return dir_.path(); }

    Pair ca;            // the root, self-signed CA
    Pair leaf;          // server certificate for 127.0.0.1 / localhost, issued by ca
    Pair wrongHost;     // server certificate for "wrong.example" only, issued by ca
    Pair expired;       // like leaf, but its validity ended yesterday
    Pair selfSigned;    // server certificate for 127.0.0.1 / localhost, its own issuer
    Pair intermediate;  // a CA issued by ca
    Pair chained;       // server certificate issued by intermediate; cert file holds both
    Pair hosLeaf;       // server certificate for the storage test domain: test.hos.halvane.com,
                        // *.test.hos.halvane.com and 127.0.0.1, issued by ca
    Pair client;        // client-authentication certificate ("CN=test-client"), issued by ca
    std::string clientP12;    // client's key and certificate (with ca) as PKCS#12
    std::string p12Password;  // its password

    // The DER bytes of the first certificate of a PEM file.
    static std::string der(const std::string& pemFile);

private:
    TempDir dir_;
};

}  // namespace pellix::test
