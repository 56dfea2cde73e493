// The HTTP-DNS stand-in (tests/peers/httpdns/server.js) with its own
// certificates (the server's names 127.0.0.1) and answers file.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "support/TestCerts.h"
#include "support/TestSupport.h"

namespace pellix::hostest {

inline constexpr const char* kAccount = "654321";

struct HttpdnsPeer {
    // Listens on the address `host` only.
    explicit HttpdnsPeer(const std::string& host = "127.0.0.1") {
        setAnswers("{}");
        process = std::make_unique<test::Process>(std::vector<std::string>{
            "node", test::sourceDir() + "/tests/peers/httpdns/server.js", "--cert", certs.leaf.cert, "--key",
            certs.leaf.key, "--account", kAccount, "--answers", dir.file("answers.json"), "--host", host});
        auto p = process->waitForLine("listening (\\d+)");
        if (!p) throw std::runtime_error("httpdns peer did not start: " + process->errorOutput());
        port = std::stoi(*p);
    }
    void setAnswers(const std::string& json) { test::writeFile(dir.file("answers.json"), json); }
    // Queries received for `host` so far.
    int queries(const std::string& host) const {
        std::string out = process->output();
        int n = 0;
        for (std::size_t at = out.find("query " + host + "\n"); at != std::string::npos;
             at = out.find("query " + host + "\n", at + 1))
            ++n;
        return n;
    }
    test::TestCerts certs;
    test::TempDir dir;
    std::unique_ptr<test::Process> process;
    int port = 0;
};


}  // namespace pellix::hostest
