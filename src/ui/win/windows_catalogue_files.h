#pragma once

#include "ui/catalogue_files.h"

namespace qm::ui {

// The catalogue's files through the narrow Win32 file functions, in the platform's own
// enumeration order. Stateless; any thread.
class WindowsCatalogueFiles : public CatalogueFiles {
  public:
    bool List(const std::string& folder, std::vector<FolderEntry>& entries) const override;
    bool Read(const std::string& path, size_t maxBytes, std::string& bytes) const override;
    bool ModifiedSeconds(const std::string& path, int64_t& seconds) const override;
};

}  // namespace qm::ui
