#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qm {

// Bounded editing of zero-terminated path text in fixed buffers (narrow or wide). Every
// function either makes the whole change or leaves the buffer as it was: a path is never cut
// part-way, since a cut path names some other file. A buffer's span is its full capacity,
// terminator included. No operating-system types, so the rules are testable everywhere.

inline constexpr size_t kMaxPathChars = 260;

// Length of the text in `buffer`; the capacity when no terminator is found.
template <typename Char>
size_t TextLength(std::span<const Char> buffer) {
    for (size_t i = 0; i < buffer.size(); ++i) {
        if (buffer[i] == Char{0}) {
            return i;
        }
    }
    return buffer.size();
}

template <typename Char>
size_t TextLength(const Char* text) {
    size_t n = 0;
    while (text[n] != Char{0}) {
        ++n;
    }
    return n;
}

// Writes `tail` at `at` when it fits with its terminator; false (buffer untouched) otherwise
// or when `at` lies past the text.
template <typename Char>
bool PutTextAt(std::span<Char> buffer, size_t at, const Char* tail) {
    const size_t length = TextLength(std::span<const Char>(buffer));
    if (tail == nullptr || length >= buffer.size() || at > length) {
        return false;
    }
    const size_t tailLength = TextLength(tail);
    if (at + tailLength + 1 > buffer.size()) {
        return false;
    }
    for (size_t i = 0; i < tailLength; ++i) {
        buffer[at + i] = tail[i];
    }
    buffer[at + tailLength] = Char{0};
    return true;
}

// Copies `text` into `buffer`; false (buffer untouched) when it does not fit.
template <typename Char>
bool CopyText(std::span<Char> buffer, const Char* text) {
    if (text == nullptr) {
        return false;
    }
    const size_t length = TextLength(text);
    if (length + 1 > buffer.size()) {
        return false;
    }
    std::copy(text, text + length + 1, buffer.begin());
    return true;
}

template <typename Char>
bool AppendText(std::span<Char> buffer, const Char* tail) {
    return PutTextAt(buffer, TextLength(std::span<const Char>(buffer)), tail);
}

// Position of the last `mark` in the text, or SIZE_MAX.
template <typename Char>
size_t LastIndexOf(std::span<const Char> buffer, Char mark) {
    size_t found = SIZE_MAX;
    const size_t length = TextLength(buffer);
    for (size_t i = 0; i < length; ++i) {
        if (buffer[i] == mark) {
            found = i;
        }
    }
    return found;
}

// Everything after the last backslash becomes `name`. A path without a backslash, or a result
// that would not fit, leaves the buffer unchanged (false).
template <typename Char>
bool ReplaceFileNameText(std::span<Char> path, const Char* name) {
    const size_t slash = LastIndexOf(std::span<const Char>(path), Char{'\\'});
    return slash != SIZE_MAX && PutTextAt(path, slash + 1, name);
}

// Everything from the last dot on becomes `extension` (with its dot). A path without a dot,
// or a result that would not fit, leaves the buffer unchanged (false).
template <typename Char>
bool ReplaceExtensionText(std::span<Char> path, const Char* extension) {
    const size_t dot = LastIndexOf(std::span<const Char>(path), Char{'.'});
    return dot != SIZE_MAX && PutTextAt(path, dot, extension);
}

// The module path `modulePath` cut after its last backslash, followed by `name`, into
// `out`. A module path without a backslash is kept whole, as the operating system gave it.
// False (out untouched) when the result does not fit.
template <typename Char>
bool BesideModuleText(std::span<Char> out, std::span<const Char> modulePath, const Char* name) {
    const size_t length = TextLength(modulePath);
    const size_t slash = LastIndexOf(modulePath, Char{'\\'});
    const size_t keep = slash == SIZE_MAX ? length : slash + 1;
    const Char* const tail = slash == SIZE_MAX ? nullptr : name;
    if (slash != SIZE_MAX && name == nullptr) {
        return false;
    }
    if (keep + (tail != nullptr ? TextLength(tail) : 0) + 1 > out.size()) {
        return false;
    }
    std::copy(modulePath.begin(), modulePath.begin() + keep, out.begin());
    out[keep] = Char{0};
    return tail == nullptr || PutTextAt(out, keep, tail);
}

}  // namespace qm
