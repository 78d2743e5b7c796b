// A seam that lets tests take the path of a file system without anonymous temporary files.
#pragma once

namespace qx::testing {

// On: replacements make named temporary files, as where the file system cannot make anonymous ones.
void UseNamedTemporariesOnly(bool on);

}  // namespace qx::testing
