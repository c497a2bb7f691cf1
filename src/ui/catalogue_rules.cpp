#include "ui/catalogue_rules.h"

#include <algorithm>

#include "filter/guid_text.h"
#include "ui/profile_text.h"

namespace qm::catalogue {

namespace {

// Byte limits of the catalogue's text values, terminator included.
constexpr size_t kLongText = 260;
constexpr size_t kShortText = 50;

bool Fits(std::string_view path) {
    return path.size() < kMaxPathChars;
}

bool SameExtension(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

size_t NameStart(std::string_view path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// Position of the file name's own dot, or npos: a dot in a folder name is no extension.
size_t ExtensionDot(std::string_view path) {
    const size_t dot = path.find_last_of('.');
    return dot != std::string_view::npos && dot >= NameStart(path) ? dot : std::string_view::npos;
}

void Scan(const CatalogueFiles& files, const std::string& folder, std::string_view extension,
          int depth, std::vector<std::string>& found) {
    // The listing pattern "*.*" must fit behind the folder.
    std::vector<FolderEntry> entries;
    if (!Fits(folder + "*.*") || !files.List(folder, entries))
        return;
    for (const FolderEntry& entry : entries) {
        if (entry.name.empty() || entry.name == "." || entry.name == ".." || entry.link)
            continue;
        if (entry.folder) {
            if (depth < kMaxScanDepth)
                Scan(files, folder + entry.name + "\\", extension, depth + 1, found);
            continue;
        }
        const size_t dot = entry.name.find_last_of('.');
        const std::string_view own = dot == std::string::npos
                                         ? std::string_view()
                                         : std::string_view(entry.name).substr(dot);
        std::string path = folder + entry.name;
        if (SameExtension(own, extension) && Fits(path))
            found.push_back(std::move(path));
    }
}

ProfileText ReadProfile(const CatalogueFiles& files, const std::string& path) {
    std::string bytes;
    if (!files.Read(path, kMaxProfileBytes, bytes))
        return ProfileText();
    return ProfileText(bytes);
}

// The one test the companion file's value goes through; every group passes it.
bool GroupAccepted(const std::string& /*filePath*/, const std::string& /*companionValue*/) {
    return true;
}

}  // namespace

std::vector<std::string> ScanFiles(const CatalogueFiles& files, const std::string& folder,
                                   std::string_view extension) {
    std::vector<std::string> found;
    // An empty extension would take every file without a dot.
    if (!extension.empty())
        Scan(files, folder, extension, 0, found);
    return found;
}

std::string FolderOf(std::string_view path) {
    return std::string(path.substr(0, NameStart(path)));
}

std::string WithExtension(std::string_view path, std::string_view extension) {
    std::string result(path.substr(0, std::min(ExtensionDot(path), path.size())));
    result += extension;
    return Fits(result) ? result : std::string();
}

std::string CaptionOf(std::string_view path) {
    const size_t start = NameStart(path);
    const size_t dot = ExtensionDot(path);
    return std::string(path.substr(start, dot == std::string_view::npos ? dot : dot - start));
}

bool IsInnerFolder(std::string_view folder) {
    if (!folder.empty() && (folder.front() == '\\' || folder.front() == '/'))
        return false;
    if (folder.find(':') != std::string_view::npos)
        return false;
    while (!folder.empty()) {
        const size_t end = folder.find_first_of("\\/");
        const std::string_view step = folder.substr(0, end);
        folder.remove_prefix(end == std::string_view::npos ? folder.size() : end + 1);
        // The platform drops trailing dots and blanks of a name, so ". ." and "..." climb too.
        const bool onlyDots = step.find_first_not_of(". ") == std::string_view::npos;
        if (onlyDots && std::count(step.begin(), step.end(), '.') >= 2)
            return false;
    }
    return true;
}

std::vector<CategoryRecord> AdmitCategories(const CatalogueFiles& files,
                                            const std::string& effectsFolder,
                                            const std::function<void(const std::string&)>& trace) {
    std::vector<CategoryRecord> admitted;
    for (const std::string& path : ScanFiles(files, effectsFolder, ".cef")) {
        const ProfileText profile = ReadProfile(files, path);
        const std::string thumbnail = profile.String("Effect", "ThumbNail", "", kLongText);
        if (thumbnail.empty())
            continue;
        const std::string thumbnailPath = FolderOf(path) + thumbnail;
        std::string name = profile.String("Effect", "Name", "", kLongText);
        if (name.empty() || !Fits(thumbnailPath))
            continue;
        if (trace)
            trace(path);
        // Without an Index a file is not admitted, though it would load as number 1.
        if (profile.Int("Effect", "Index", 100) != 1)
            continue;
        admitted.push_back(CategoryRecord{path, thumbnailPath, std::move(name), 1});
    }
    return admitted;
}

bool EffectCatalogue::Load(const CatalogueFiles& files, const std::string& path) {
    entries_.clear();
    queue_.clear();
    scroll_ = 0;
    visible_ = 0;
    maxUse_ = 1;

    const ProfileText profile = ReadProfile(files, path);
    const int32_t index = profile.Int("Effect", "Index", 1);
    if (index >= kRefusedIndex)
        return false;
    const int32_t groups = profile.Int("Effect", "ItemCount", 0);
    if (groups < 1)
        return false;
    // Zero would let a double click pop an empty selection.
    maxUse_ = std::max(profile.Int("Effect", "MaxUse", 1), 1);

    const std::string folder = FolderOf(path);
    const std::string companionPath = WithExtension(path, ".tef");
    const ProfileText companion =
        companionPath.empty() ? ProfileText() : ReadProfile(files, companionPath);
    for (int32_t n = 1; n <= std::min(groups, kMaxGroups); ++n) {
        std::string section = "A";
        section += std::to_string(n);  // not "A" + ...: GCC 12 at -O3 warns falsely on that
        std::string filePath = folder + profile.String(section, "File", "", kLongText);
        if (!Fits(filePath))
            filePath.clear();
        EffectGuid iid{};
        GuidFromText(profile.String(section, "IID", "", kLongText), iid);
        if (!GroupAccepted(filePath, companion.String("Encrypt", section, "", kShortText)))
            continue;

        const std::string dir = profile.String(section, "ContentDir", "", kShortText);
        const std::string ext = profile.String(section, "ContentExt", "", kShortText);
        const std::string thumbnailExt = profile.String(section, "ThumbNail", ext, kShortText);
        if (!IsInnerFolder(dir))
            continue;
        const bool ownSlash = dir.empty() || dir.back() == '\\' || dir.back() == '/';
        const std::string contentFolder = folder + dir + (ownSlash ? "" : "\\");
        for (std::string& contentPath : ScanFiles(files, contentFolder, ext)) {
            int64_t modified = 0;
            if (entries_.size() >= kMaxEntries)
                break;
            if (!files.ModifiedSeconds(contentPath, modified))
                continue;
            entries_.push_back(EffectCatalogItem{std::move(contentPath), filePath, thumbnailExt,
                                                 iid, index, 0, modified});
        }
    }
    // Newest first; equal times keep the scan order.
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const EffectCatalogItem& a, const EffectCatalogItem& b) {
                         return a.modified > b.modified;
                     });
    SetVisibleCount();
    return true;
}

bool EffectCatalogue::EntryAt(int32_t index, EffectCatalogItem& item) const {
    if (index < 0 || index >= EntryCount())
        return false;
    item = entries_[static_cast<size_t>(index)];
    return true;
}

void EffectCatalogue::SetVisibleCount() {
    visible_ = std::clamp(EntryCount() - scroll_, 0, kPageEntries);
}

bool EffectCatalogue::NextPage() {
    if (scroll_ + kPageStep >= EntryCount())
        return false;
    scroll_ += kPageStep;
    SetVisibleCount();
    return true;
}

bool EffectCatalogue::PreviousPage() {
    if (scroll_ < 1)
        return false;
    scroll_ = std::max(scroll_ - kPageStep, 0);
    SetVisibleCount();
    return true;
}

std::string EffectCatalogue::CaptionAt(int32_t position) const {
    if (position < 0 || position >= visible_)
        return std::string();
    return CaptionOf(entries_[static_cast<size_t>(scroll_ + position)].contentPath);
}

std::string EffectCatalogue::ThumbnailPathAt(int32_t position) const {
    if (position < 0 || position >= visible_)
        return std::string();
    const EffectCatalogItem& entry = entries_[static_cast<size_t>(scroll_ + position)];
    return WithExtension(entry.contentPath, entry.thumbnailExt);
}

int32_t EffectCatalogue::HitTest(int32_t x, int32_t y, int32_t clientWidth,
                                 int32_t clientHeight) const {
    if (x < 0 || y < 0 || x >= clientWidth - 1 || y >= clientHeight - 1)
        return -1;
    const int32_t column = x / kCellWidth;
    if (y / kCellHeight != 0 || column > kPageEntries)
        return -1;
    const int32_t index = scroll_ + column;
    if (column >= visible_ || index >= EntryCount())
        return -1;
    const int32_t left = column * kCellWidth + 4;
    if (x < left || x >= left + kThumbWidth || y < 6 || y >= 6 + kThumbHeight)
        return -1;
    return index;
}

std::optional<SelectionNotice> EffectCatalogue::ToggleSelection(int32_t index) {
    if (index < 0 || index >= EntryCount())
        return std::nullopt;
    EffectCatalogItem& entry = entries_[static_cast<size_t>(index)];
    if (entry.selected != 0) {
        entry.selected = 0;
        queue_.erase(std::remove(queue_.begin(), queue_.end(), index), queue_.end());
        return SelectionNotice{kDeselected, index};
    }
    int32_t removed = kNoneRemoved;
    if (static_cast<int32_t>(queue_.size()) >= maxUse_) {
        removed = queue_.front();
        queue_.pop_front();
        entries_[static_cast<size_t>(removed)].selected = 0;
    }
    entry.selected = 1;
    queue_.push_back(index);
    return SelectionNotice{removed, index};
}

}  // namespace qm::catalogue
