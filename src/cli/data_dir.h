#pragma once

#include <string>

namespace qm {

// The tool's read-only data (the sample voice), found beside the program as a packager lays
// it out: PREFIX/bin/quillmar reads PREFIX/share/quillmar. The build tree has the same shape.
std::string DataDirectory();

}  // namespace qm
