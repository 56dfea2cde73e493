#include "TVNetworking/TVContentTypeForPathExtension.h"

#include <fstream>
#include <sstream>
#include <unordered_map>

namespace pellix {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

const std::unordered_map<std::string, std::string>& registry() {
    static const std::unordered_map<std::string, std::string> table = [] {
        std::unordered_map<std::string, std::string> t;
        std::ifstream in("/etc/mime.types");
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream fields(line);
            std::string type, ext;
            if (!(fields >> type)) continue;
            // The first type that names an extension is its preferred one.
            while (fields >> ext) t.emplace(lower(ext), type);
        }
        return t;
    }();
    return table;
}

}  // namespace

std::string TVContentTypeForPathExtension(const std::string& extension) {
    if (!extension.empty()) {
        const auto& table = registry();
        auto it = table.find(lower(extension));
        if (it != table.end()) return it->second;
    }
    return "application/octet-stream";
}

}  // namespace pellix
