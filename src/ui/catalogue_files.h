#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// What the effect catalogue needs of the file system, narrow and no wider: list a folder, read
// a small file, ask a file's modification time. Paths are the program's narrow form: folders
// separated by backslashes, a folder path ending in one.

struct FolderEntry {
    std::string name;     // without folder
    bool folder = false;  // a sub-folder
    bool link = false;    // a reparse point (junction, symbolic link): never entered
};

class CatalogueFiles {
  public:
    virtual ~CatalogueFiles() = default;
    // The entries of `folder` in the platform's enumeration order; false when it cannot be
    // listed.
    virtual bool List(const std::string& folder, std::vector<FolderEntry>& entries) const = 0;
    // The whole file into `bytes`; false when it cannot be read or is larger than maxBytes.
    virtual bool Read(const std::string& path, size_t maxBytes, std::string& bytes) const = 0;
    // Last modification in seconds since 1970-01-01 UTC; false when it cannot be read.
    virtual bool ModifiedSeconds(const std::string& path, int64_t& seconds) const = 0;
};

// The host's file system through std::filesystem, backslashes standing for its separator
// (native builds: the tests and the command-line side). Names come in the order of the sorted
// listing, as an NTFS folder lists them, so scans are repeatable.
class HostCatalogueFiles : public CatalogueFiles {
  public:
    bool List(const std::string& folder, std::vector<FolderEntry>& entries) const override;
    bool Read(const std::string& path, size_t maxBytes, std::string& bytes) const override;
    bool ModifiedSeconds(const std::string& path, int64_t& seconds) const override;

    // A host path in the catalogue's backslash form.
    static std::string CataloguePath(const std::string& hostPath);
};

}  // namespace qm
