#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "ui/catalogue_files.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

fs::path HostPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return fs::path(path);
}

}  // namespace

bool HostCatalogueFiles::List(const std::string& folder, std::vector<FolderEntry>& entries) const {
    entries.clear();
    std::error_code error;
    fs::directory_iterator it(HostPath(folder), error);
    if (error)
        return false;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error)
            return false;
        FolderEntry entry;
        entry.name = it->path().filename().string();
        entry.link = it->is_symlink(error);
        entry.folder = !entry.link && it->is_directory(error);
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

bool HostCatalogueFiles::Read(const std::string& path, size_t maxBytes, std::string& bytes) const {
    std::error_code error;
    const fs::path host = HostPath(path);
    if (!fs::is_regular_file(host, error))
        return false;
    const uintmax_t size = fs::file_size(host, error);
    if (error || size > maxBytes)
        return false;
    std::ifstream in(host, std::ios::binary);
    std::string text(static_cast<size_t>(size), '\0');
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size())))
        return false;
    bytes = std::move(text);
    return true;
}

bool HostCatalogueFiles::ModifiedSeconds(const std::string& path, int64_t& seconds) const {
    struct stat status {};
    if (::stat(HostPath(path).c_str(), &status) != 0)
        return false;
    seconds = static_cast<int64_t>(status.st_mtime);
    return true;
}

std::string HostCatalogueFiles::CataloguePath(const std::string& hostPath) {
    std::string path = hostPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace qm
