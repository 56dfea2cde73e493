#include "support/TestCerts.h"

#include <stdexcept>

namespace pellix::test {

namespace {

std::string quote(const std::string& s) { return "'" + s + "'"; }

void openssl(const std::string& arguments) {
    std::string command = "openssl " + arguments + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl failed: " + command);
}

const char* kServerExt =
    "basicConstraints=critical,CA:FALSE\n"
    "keyUsage=critical,digitalSignature,keyEncipherment\n"
    "extendedKeyUsage=serverAuth\n";

}  // namespace

TestCerts::TestCerts() {
    auto path = [this](const std::string& name) { return dir_.file(name); };
    auto newKey = [&](const std::string& name) {
        openssl("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + quote(path(name + ".key")));
        return path(name + ".key");
    };
    // Issues name.pem for name.key, signed by issuer (or self-signed when
    // issuer is empty), with the extensions in ext.
    auto issue = [&](const std::string& name, const std::string& subject, const Pair* issuer, const std::string& ext,
                     int days) {
        std::string key = newKey(name);
        std::string extFile = path(name + ".ext");
        writeFile(extFile, ext);
        std::string csr = path(name + ".csr");
        openssl("req -new -key " + quote(key) + " -subj " + quote(subject) + " -out " + quote(csr));
        std::string cert = path(name + ".pem");
        std::string sign = issuer ? "-CA " + quote(issuer->cert) + " -CAkey " + quote(issuer->key) +
                                        " -CAcreateserial"
                                  : "-signkey " + quote(key);
        openssl("x509 -req -in " + quote(csr) + " " + sign + " -days " + std::to_string(days) + " -sha256 -extfile " +
                quote(extFile) + " -out " + quote(cert));
        return Pair{cert, key};
    };
    const std::string caExt = "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"
                              "subjectKeyIdentifier=hash\n";
    const std::string localNames = "subjectAltName=IP:127.0.0.1,DNS:localhost\n";

    ca = issue("ca", "/CN=Pellix Test Root CA", nullptr, caExt, 3650);
    leaf = issue("leaf", "/CN=localhost", &ca, std::string(kServerExt) + localNames, 365);
    hosLeaf = issue("hos-leaf", "/CN=test.hos.halvane.com", &ca,
                    std::string(kServerExt) +
                        "subjectAltName=DNS:test.hos.halvane.com,DNS:*.test.hos.halvane.com,IP:127.0.0.1\n",
                    365);
    wrongHost = issue("wrong-host", "/CN=wrong.example", &ca, std::string(kServerExt) + "subjectAltName=DNS:wrong.example\n", 365);
    expired = issue("expired", "/CN=localhost", &ca, std::string(kServerExt) + localNames, -1);
    selfSigned = issue("self-signed", "/CN=localhost", nullptr, std::string(kServerExt) + localNames, 365);
    intermediate = issue("intermediate", "/CN=Pellix Test Intermediate CA", &ca, caExt, 3650);
    Pair chainedLeaf = issue("chained", "/CN=localhost", &intermediate, std::string(kServerExt) + localNames, 365);
    chained.key = chainedLeaf.key;
    chained.cert = path("chained-full.pem");
    writeFile(chained.cert, readFile(chainedLeaf.cert) + readFile(intermediate.cert));
    client = issue("client", "/CN=test-client", &ca,
                   "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=clientAuth\n",
                   365);
    p12Password = "pellix-test";
    clientP12 = path("client.p12");
    openssl("pkcs12 -export -in " + quote(client.cert) + " -inkey " + quote(client.key) + " -certfile " +
            quote(ca.cert) + " -passout " + quote("pass:" + p12Password) + " -out " + quote(clientP12));
}

std::string TestCerts::der(const std::string& pemFile) {
    TempDir tmp;
    std::string out = tmp.file("cert.der");
    openssl("x509 -in " + quote(pemFile) + " -outform DER -out " + quote(out));
    return readFile(out);
}

}  // namespace pellix::test
