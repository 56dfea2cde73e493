// Shared pieces of the session-manager tests: the HTTPS peer and the plain
// helper peer, test certificates trusted as the system store, DER chains and
// main-loop waiting.
#pragma once

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/RunLoop.h"
#include "platform/URL.h"
#include "platform/Value.h"
#include "support/TestCerts.h"
#include "support/TestSupport.h"

namespace pellix::tvtest {

using platform::Bytes;

// The certificates of one test process, with the CA as the system store.
inline test::TestCerts& certs() {
    static test::TestCerts* c = [] {
        auto* made = new test::TestCerts();
        ::setenv("SSL_CERT_FILE", made->ca.cert.c_str(), 1);
        ::setenv("SSL_CERT_DIR", made->dir().c_str(), 1);
        return made;
    }();
    return *c;
}

// Every certificate of a PEM file, as DER, in file order.
inline std::vector<Bytes> derChain(const std::string& pemFile) {
    std::vector<Bytes> out;
    BIO* bio = BIO_new_file(pemFile.c_str(), "r");
    if (!bio) throw std::runtime_error("cannot read " + pemFile);
    while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        int n = i2d_X509(x, nullptr);
        Bytes der(static_cast<std::size_t>(n));
        unsigned char* p = der.data();
        i2d_X509(x, &p);
        out.push_back(std::move(der));
        X509_free(x);
    }
    BIO_free(bio);
    return out;
}

inline Bytes der(const std::string& pemFile) { return derChain(pemFile).at(0); }

// A node peer printing "listening <port>".
class NodePeer {
public:
    NodePeer(std::vector<std::string> argv, const std::string& scheme) {
        process_ = std::make_unique<test::Process>(std::move(argv));
        auto port = process_->waitForLine("listening (\\d+)");
        if (!port) throw std::runtime_error("peer did not start: " + process_->errorOutput());
        port_ = std::stoi(*port);
        base_ = scheme + "://127.0.0.1:" + std::to_string(port_);
    }
    int port() const { return port_; }
    const std::string& base() const { return base_; }
    std::string url(const std::string& path) const { return base_ + path; }

private:
    std::unique_ptr<test::Process> process_;
    int port_ = 0;
    std::string base_;
};

// The shared HTTPS peer serving `certFile` (may hold a chain) with `keyFile`.
inline std::unique_ptr<NodePeer> httpsPeer(const std::string& certFile, const std::string& keyFile) {
    return std::make_unique<NodePeer>(
        std::vector<std::string>{"node", test::sourceDir() + "/tests/peers/https/server.js", "--port", "0", "--cert",
                                 certFile, "--key", keyFile},
        "https");
}

inline std::unique_ptr<NodePeer> httpsPeer(const test::TestCerts::Pair& pair) {
    return httpsPeer(pair.cert, pair.key);
}

// This folder's plain helper peer (/raw, /json-status/<n>).
inline std::unique_ptr<NodePeer> helperPeer() {
    return std::make_unique<NodePeer>(
        std::vector<std::string>{"node", test::sourceDir() + "/tests/peers/tvmanagers/server.js", "--port", "0"},
        "http");
}

// Drives the main run loop on the test thread until `pred` holds.
inline bool pumpUntil(const std::function<bool()>& pred, double seconds = 20) {
    return platform::RunLoop::main()->runUntil(pred, seconds);
}

// Drives the main loop for a while (to see that nothing more arrives).
inline void pumpFor(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    platform::RunLoop::main()->runUntil([&] { return std::chrono::steady_clock::now() >= end; }, seconds + 1);
}

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline std::string textOf(const Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace pellix::tvtest
