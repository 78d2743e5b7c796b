// What tests that run a batch in this process share: file lists of given paths.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "intake/intake.h"

namespace qx::test {

// A row that carries only its path: all a batch reads of it.
inline void AppendPath(RowList& rows, const std::string& path) {
    FileRow row;
    row.path = path;
    rows.Append(std::move(row));
}

inline RowList RowsOf(const std::vector<std::string>& paths) {
    RowList rows;
    for (const std::string& path : paths) AppendPath(rows, path);
    return rows;
}

}  // namespace qx::test
