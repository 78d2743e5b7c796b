// The settings file: an INI file read and written with the semantics of the Windows profile functions.
#pragma once

#include <string>

namespace qx {

class ProfileStore {
public:
    explicit ProfileStore(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // The key's integer; `defaultValue` when the file, section or key is missing or the value is empty.
    int GetProfileIntA(const std::string& section, const std::string& key, int defaultValue) const;
    // The key's text; `defaultValue` when the file, section or key is missing. An empty value is "".
    std::string GetProfileStringA(const std::string& section, const std::string& key,
                                  const std::string& defaultValue) const;
    // Writes replace the file atomically; callers do not examine the result (false only for tests).
    bool WriteProfileInt(const std::string& section, const std::string& key, int value);
    bool WriteProfileStringA(const std::string& section, const std::string& key, const std::string& value);

private:
    std::string path_;
};

// The integer that profile text states: blanks and tabs skipped, an optional sign, decimal digits up to the
// first other character (trailing text ignored), wrapping like a 32-bit value; no digits give 0.
int ParseProfileInt(const std::string& text);

}  // namespace qx
