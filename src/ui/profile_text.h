#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A settings file in the private-profile ("INI") form, read the way the operating system's
// profile functions read it, over text that comes from outside:
// - "[Section]" lines open a section, "Key=Value" lines give a value; names are matched
//   without regard to ASCII case, and blanks around names and values are dropped;
// - the first section of a name is the one read, and in it the first line of the key;
// - a value wrapped in a matching pair of single or double quotes loses the quotes;
// - a key that is present with an empty value reads as empty text, not as the fallback;
// - text is cut to the caller's capacity less one byte for the terminator, as the profile
//   functions cut into a fixed buffer, and a NUL inside a value ends it there.
// Text with a UTF-16LE byte order mark (what the wide profile functions read beyond the ANSI
// code page) is turned into UTF-8; a UTF-8 byte order mark is dropped.
class ProfileText {
  public:
    ProfileText() = default;
    explicit ProfileText(std::string_view bytes);

    // The value of `key` in `section`, else `fallback`, at most capacityBytes - 1 bytes.
    std::string String(std::string_view section, std::string_view key, std::string_view fallback,
                       size_t capacityBytes) const;

    // An integer value: leading blanks, an optional sign, then decimal digits up to the first
    // other character (none: 0). Absent or empty: `fallback`. Out-of-range values saturate.
    int32_t Int(std::string_view section, std::string_view key, int32_t fallback) const;

    // Every key of `section` in file order (first occurrence of each).
    std::vector<std::string> Keys(std::string_view section) const;

  private:
    struct Line {
        size_t section;  // index into sections_
        std::string key;
        std::string value;
    };
    const std::string* Find(std::string_view section, std::string_view key) const;

    std::vector<std::string> sections_;
    std::vector<Line> lines_;
};

// UTF-16LE code units (no byte order mark) as UTF-8; unpaired surrogates become U+FFFD and an
// odd trailing byte is dropped.
std::string Utf8FromUtf16Le(std::string_view bytes);

}  // namespace qm
