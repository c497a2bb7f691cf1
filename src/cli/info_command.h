#pragma once

#include <string>
#include <vector>

namespace qm {

// `quillmar info FILE`: the file's format, duration, tags and the voice recipe that made it.
int CommandInfo(const std::vector<std::string>& args);

}  // namespace qm
