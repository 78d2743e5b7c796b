// Outputs this program wrote, recognised by their content: each folder outputs go into keeps a ledger of them,
// so that a later batch over the same folder (or over outputs renamed there) does not compress them again.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace qx {

// The ledger's name in each folder that holds outputs.
inline constexpr const char* kOutputLedgerName = ".quendrix-ausgaben";

// FNV-1a, 64 bits: the same on every machine and in every build, unlike std::hash.
uint64_t Fnv1a64(std::string_view bytes, uint64_t hash = 14695981039346656037ull);

// Lists the file just written at `outputPath` in its folder's ledger. A ledger that cannot be written leaves
// the output as it is: the output is only not recognised later.
void RecordOutput(const std::string& outputPath);

// The ledgers of the folders a batch reads from, each read once.
class OutputLedgers {
public:
    // Whether the file at `path` has the size and content of an output listed in its folder's ledger.
    bool IsListedOutput(const std::string& path);

private:
    using Entry = std::pair<int64_t, uint64_t>;  // size in bytes, content hash
    const std::set<Entry>& LedgerOf(const std::string& folder);
    std::map<std::string, std::set<Entry>> ledgers_;
};

}  // namespace qx
