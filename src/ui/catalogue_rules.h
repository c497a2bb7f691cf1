#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "effects/effect_guid.h"
#include "ui/catalogue_files.h"

// The effect catalogue on disk and the rules of the effect list that shows it, with no window
// types: category files (".cef") name a category and its groups; each group leads to a folder
// of content files, one selectable entry each, shown newest first, five to a page.

namespace qm::catalogue {

inline constexpr size_t kMaxPathChars = 260;         // a path and its terminator
inline constexpr size_t kMaxProfileBytes = 1 << 20;  // larger catalogue files are not read
inline constexpr int32_t kRefusedIndex = 64;         // category numbers from here on do not load
inline constexpr int32_t kMaxGroups = 256;           // groups read of one category
inline constexpr size_t kMaxEntries = 4096;          // entries kept of one category
inline constexpr int kMaxScanDepth = 8;              // sub-folder levels entered by a scan
inline constexpr int32_t kPageEntries = 5;
inline constexpr int32_t kPageStep = 2;
inline constexpr int32_t kThumbWidth = 80;
inline constexpr int32_t kThumbHeight = 60;
inline constexpr int32_t kCellWidth = kThumbWidth + 8;
inline constexpr int32_t kCellHeight = kThumbHeight + 12;
inline constexpr int32_t kLowestPanelNumber = 0;       // category panels are switched only in this
inline constexpr int32_t kHighestPanelNumber = 10000;  // range of numbers

// Every file under `folder` (ending in a backslash) whose extension (from the file name's last
// dot) equals `extension` without regard to ASCII case, depth first: a sub-folder is entered
// where the listing meets it. Reparse points are not entered, nesting stops at kMaxScanDepth,
// and paths that would not fit kMaxPathChars are left out. An empty extension finds nothing.
std::vector<std::string> ScanFiles(const CatalogueFiles& files, const std::string& folder,
                                   std::string_view extension);

// The folder part of `path` up to and including its last backslash ("" when none).
std::string FolderOf(std::string_view path);
// `path` with the file name's own extension replaced by `extension` (appended when the name
// has no dot); empty when the result would not fit kMaxPathChars.
std::string WithExtension(std::string_view path, std::string_view extension);
// The file name without folder and extension: what the entry list shows as a caption.
std::string CaptionOf(std::string_view path);
// True for a folder name that stays inside the category's folder: not absolute, no drive, no
// ".." step.
bool IsInnerFolder(std::string_view folder);

// One category file admitted to the effect panel. `name` is as the file gives it (ANSI); the
// panel looks it up as a language string.
struct CategoryRecord {
    std::string filePath;
    std::string thumbnailPath;
    std::string name;
    int32_t number = 0;
};

// The category files under `effectsFolder` in scan order that have a ThumbNail and a Name and
// the number 1. `trace` receives the path of every file whose Index is read.
std::vector<CategoryRecord> AdmitCategories(const CatalogueFiles& files,
                                            const std::string& effectsFolder,
                                            const std::function<void(const std::string&)>& trace);

struct EffectCatalogItem {
    std::string contentPath;   // the content file, whose [Content] IID names the effect
    std::string filePath;      // the group's File beside the category file (empty: too long)
    std::string thumbnailExt;  // with its dot
    EffectGuid iid{};          // zero when the group's text does not parse
    int32_t categoryNumber = 0;
    int32_t selected = 0;
    int64_t modified = 0;  // seconds since 1970-01-01 UTC
};

// What the entry list posts to its parent after a double click: `removed` is the entry that
// left the selection to make room (-1 when none) or -2 when the clicked entry was deselected;
// `index` is the clicked entry.
struct SelectionNotice {
    int32_t removed;
    int32_t index;
};
inline constexpr int32_t kNoneRemoved = -1;
inline constexpr int32_t kDeselected = -2;

// One category's entries, page and selection.
class EffectCatalogue {
  public:
    // Replaces everything with the entries of the category file at `path`: false (and no
    // entries) when its Index is kRefusedIndex or more or it has no groups.
    bool Load(const CatalogueFiles& files, const std::string& path);

    int32_t EntryCount() const { return static_cast<int32_t>(entries_.size()); }
    // A copy of entry `index`; false (item untouched) past either end.
    bool EntryAt(int32_t index, EffectCatalogItem& item) const;
    int32_t MaxUse() const { return maxUse_; }
    const std::deque<int32_t>& SelectionQueue() const { return queue_; }

    int32_t ScrollPosition() const { return scroll_; }
    // min(page, entries - scroll), never below 0: what the list may draw and hit.
    int32_t VisibleCount() const { return visible_; }
    // Page by kPageStep; false when at the end (nothing changed). The caller reloads the
    // visible thumbnails and captions after a change.
    bool NextPage();
    bool PreviousPage();
    // The wheel's page command: 0 next for a turn towards the user (delta below 1), else 1.
    static int32_t WheelCommand(int32_t wheelDelta) { return wheelDelta < 1 ? 0 : 1; }
    bool Page(int32_t command) {
        return command == 0 ? NextPage() : command == 1 && PreviousPage();
    }

    // The caption and thumbnail path of visible position k (0 .. visible count - 1); empty
    // outside. An empty thumbnail path leaves the slot empty.
    std::string CaptionAt(int32_t position) const;
    std::string ThumbnailPathAt(int32_t position) const;

    // The entry whose picture holds the client point, else -1: the point lies inside the
    // client area less its last column and row, on a visible entry, and off the cell margins.
    int32_t HitTest(int32_t x, int32_t y, int32_t clientWidth, int32_t clientHeight) const;

    // A double click on entry `index` under the MaxUse rule; nothing (no notice) when the
    // index is no entry.
    std::optional<SelectionNotice> ToggleSelection(int32_t index);

  private:
    void SetVisibleCount();

    std::vector<EffectCatalogItem> entries_;
    std::deque<int32_t> queue_;
    int32_t maxUse_ = 1;
    int32_t scroll_ = 0;
    int32_t visible_ = 0;
};

// The number at position `position` of a map keyed by category number, ascending; -1 for a
// position that is no element (the map's size could itself be a category's number).
template <typename Value>
int32_t KeyAtPosition(const std::map<int32_t, Value>& byNumber, int32_t position) {
    if (position < 0 || static_cast<size_t>(position) >= byNumber.size())
        return -1;
    auto it = byNumber.begin();
    std::advance(it, position);
    return it->first;
}

inline bool IsPanelNumber(int32_t number) {
    return number >= kLowestPanelNumber && number <= kHighestPanelNumber;
}

}  // namespace qm::catalogue
