// The settings file: an INI file read and written with the semantics of the Windows profile functions.
#pragma once

#include <string>

namespace qx {

class ProfileStore {
public:
    explicit ProfileStore(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    int GetProfileIntA(const std::string& section, const std::string& key, int defaultValue) const;
    std::string GetProfileStringA(const std::string& section, const std::string& key,
                                  const std::string& defaultValue) const;
    // Writes replace the file atomically; their failure is not reported (false is returned for tests).
    bool WriteProfileInt(const std::string& section, const std::string& key, int value);
    bool WriteProfileStringA(const std::string& section, const std::string& key, const std::string& value);

private:
    std::string path_;
};

}  // namespace qx
