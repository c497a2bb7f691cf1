#include "ui/win/windows_catalogue_files.h"

#include <windows.h>

#include "winbase/win/text.h"

namespace qm::ui {
namespace {

// 100-nanosecond ticks from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochTicks = 116444736000000000;

class FindHandle {
  public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE)
            FindClose(handle_);
    }
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_;
};

class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_;
};

}  // namespace

bool WindowsCatalogueFiles::List(const std::string& folder,
                                 std::vector<FolderEntry>& entries) const {
    entries.clear();
    // Paths are UTF-8 (see win::WidenUtf8): every name the folder holds comes through.
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = win::WidenUtf8(folder + "*.*");
    FindHandle find(FindFirstFileW(pattern.c_str(), &found));
    if (find.Get() == INVALID_HANDLE_VALUE)
        return false;
    do {
        FolderEntry entry;
        entry.name = win::NarrowUtf8(found.cFileName);
        entry.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(find.Get(), &found));
    return true;
}

bool WindowsCatalogueFiles::Read(const std::string& path, size_t maxBytes,
                                 std::string& bytes) const {
    FileHandle file(CreateFileW(win::WidenUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (file.Get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.Get(), &size) ||
        size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > maxBytes)
        return false;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() &&
        (!ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
         read != text.size()))
        return false;
    bytes = std::move(text);
    return true;
}

bool WindowsCatalogueFiles::ModifiedSeconds(const std::string& path, int64_t& seconds) const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win::WidenUtf8(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    const int64_t ticks = static_cast<int64_t>(uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                                               data.ftLastWriteTime.dwLowDateTime);
    seconds = (ticks - kUnixEpochTicks) / 10000000;
    return true;
}

}  // namespace qm::ui
