// A category file and a tree of file names from the fuzzer's input, served from memory: the
// profile reader, the scan, the loader and the list's paging, hit test and selection must keep
// their invariants whatever the text and the names are.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "fuzz_input.h"
#include "ui/catalogue_rules.h"

using namespace qm;

namespace {

constexpr const char* kRoot = "R:\\Fx\\";

// Files by full path; every folder on the way exists. A name starting with '~' is a reparse
// point, which the scan must not enter.
class MemoryFiles : public CatalogueFiles {
  public:
    std::map<std::string, std::string> files;

    bool List(const std::string& folder, std::vector<FolderEntry>& entries) const override {
        entries.clear();
        std::set<std::string> seen;
        for (auto it = files.lower_bound(folder); it != files.end(); ++it) {
            if (it->first.compare(0, folder.size(), folder) != 0)
                break;
            const std::string rest = it->first.substr(folder.size());
            const size_t slash = rest.find('\\');
            const std::string name = rest.substr(0, slash);
            if (!seen.insert(name).second)
                continue;
            entries.push_back(FolderEntry{name, slash != std::string::npos, name[0] == '~'});
        }
        return !entries.empty();
    }
    bool Read(const std::string& path, size_t maxBytes, std::string& bytes) const override {
        const auto it = files.find(path);
        if (it == files.end() || it->second.size() > maxBytes)
            return false;
        bytes = it->second;
        return true;
    }
    bool ModifiedSeconds(const std::string& path, int64_t& seconds) const override {
        seconds = static_cast<int64_t>(std::hash<std::string>{}(path) % 7);  // many equal times
        return files.count(path) != 0 && path.back() != '!';
    }
};

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckInvariants(const catalogue::EffectCatalogue& c) {
    const int32_t scroll = c.ScrollPosition(), visible = c.VisibleCount();
    Check(scroll >= 0 && visible >= 0 && visible <= catalogue::kPageEntries);
    Check(scroll + visible <= c.EntryCount() || c.EntryCount() == 0);
    Check(static_cast<int32_t>(c.SelectionQueue().size()) <= c.MaxUse() && c.MaxUse() >= 1);
    int32_t selected = 0;
    int64_t newer = INT64_MAX;
    catalogue::EffectCatalogItem item;
    for (int32_t i = 0; c.EntryAt(i, item); ++i) {
        selected += item.selected;
        Check(item.modified <= newer && item.contentPath.size() < catalogue::kMaxPathChars);
        newer = item.modified;
    }
    Check(selected == static_cast<int32_t>(c.SelectionQueue().size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const size_t textBytes = in.Take<uint16_t>() % (in.RestSize() + 1);
    MemoryFiles memory;
    const std::string cef = std::string(kRoot) + "cat.cef";
    memory.files[cef].assign(reinterpret_cast<const char*>(in.Rest()), textBytes);
    FuzzInput rest(in.Rest() + textBytes, in.RestSize() - textBytes);
    const std::string names(reinterpret_cast<const char*>(rest.Rest()), rest.RestSize());
    for (size_t at = 0; at < names.size();) {
        const size_t end = std::min(names.find('\n', at), names.size());
        const std::string name = names.substr(at, end - at);
        at = end + 1;
        if (!name.empty() && name.find("\\\\") == std::string::npos && name.back() != '\\')
            memory.files[kRoot + name] = "[Content]\nIID=1\n";
    }

    for (const auto& record : catalogue::AdmitCategories(memory, kRoot, nullptr))
        Check(record.number == 1 && !record.name.empty());
    catalogue::EffectCatalogue category;
    category.Load(memory, cef);
    CheckInvariants(category);
    // Replay the names' bytes as clicks, wheel turns and hit tests.
    for (size_t i = 0; i < names.size() && i < 64; ++i) {
        const uint8_t op = static_cast<uint8_t>(names[i]);
        if (op % 3 == 0)
            category.Page(op % 2);
        const int32_t hit = category.HitTest(op * 2, op % 80, 440, 72);
        Check(hit == -1 || (hit >= category.ScrollPosition() &&
                            hit < category.ScrollPosition() + category.VisibleCount()));
        category.ToggleSelection(op % 3 == 1 ? hit : op % 16 - 2);
        category.CaptionAt(op % 7 - 1);
        category.ThumbnailPathAt(op % 7 - 1);
        CheckInvariants(category);
    }
    return 0;
}
