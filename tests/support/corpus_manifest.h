// The conformance corpus's MANIFEST.tsv: each file with its format and what it must give.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qx::test {

struct ManifestEntry {
    std::string path, format, expected, note;  // expected: "valid", "invalid" or "either"
};

inline std::vector<ManifestEntry> ReadManifest(const std::string& corpus) {
    std::vector<ManifestEntry> entries;
    std::ifstream in(corpus + "/MANIFEST.tsv");
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream stream(line);
        std::string field;
        while (std::getline(stream, field, '\t')) fields.push_back(field);
        if (fields.size() >= 5) entries.push_back({fields[0], fields[1], fields[3], fields[4]});
    }
    return entries;
}

}  // namespace qx::test
