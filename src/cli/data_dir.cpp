#include "cli/data_dir.h"

#include <filesystem>
#include <system_error>

namespace qm {

std::string DataDirectory() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "share/quillmar";
    return (exe.parent_path().parent_path() / "share" / "quillmar").string();
}

}  // namespace qm
