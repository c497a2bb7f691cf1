#include "ui/profile_text.h"

#include <algorithm>
#include <limits>

namespace qm {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string Utf8FromUtf16Le(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const size_t units = bytes.size() / 2;
    auto unit = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i + 1])) << 8;
    };
    for (size_t i = 0; i < units; ++i) {
        const uint32_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u < 0xE000) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

ProfileText::ProfileText(std::string_view bytes) {
    std::string converted;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        converted = Utf8FromUtf16Le(bytes.substr(2));
        bytes = converted;
    } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    bool inSection = false;
    while (!bytes.empty()) {
        const size_t end = bytes.find_first_of("\r\n");
        std::string_view line = Trim(bytes.substr(0, end));
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            if (close == std::string_view::npos)
                continue;
            sections_.emplace_back(Trim(line.substr(1, close - 1)));
            inSection = true;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos)
            continue;
        lines_.push_back(Line{sections_.size() - 1, std::string(Trim(line.substr(0, equals))),
                              std::string(Trim(line.substr(equals + 1)))});
    }
}

const std::string* ProfileText::Find(std::string_view section, std::string_view key) const {
    size_t wanted = sections_.size();
    for (size_t s = 0; s < sections_.size() && wanted == sections_.size(); ++s) {
        if (SameName(sections_[s], Trim(section)))
            wanted = s;
    }
    for (const Line& line : lines_) {
        if (line.section == wanted && SameName(line.key, Trim(key)))
            return &line.value;
    }
    return nullptr;
}

std::string ProfileText::String(std::string_view section, std::string_view key,
                                std::string_view fallback, size_t capacityBytes) const {
    const std::string* found = Find(section, key);
    std::string_view value = found != nullptr ? std::string_view(*found) : fallback;
    if (found != nullptr && value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    value = value.substr(0, value.find('\0'));
    const size_t room = capacityBytes == 0 ? 0 : capacityBytes - 1;
    return std::string(value.substr(0, room));
}

int32_t ProfileText::Int(std::string_view section, std::string_view key, int32_t fallback) const {
    const std::string* found = Find(section, key);
    if (found == nullptr || found->empty())
        return fallback;
    std::string_view text = *found;
    size_t at = 0;
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        negative = text[at++] == '-';
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = std::min(value * 10 + (text[at] - '0'), kLimit);
    value = negative ? -value : std::min(value, kLimit - 1);
    return static_cast<int32_t>(value);
}

std::vector<std::string> ProfileText::Keys(std::string_view section) const {
    std::vector<std::string> keys;
    for (size_t s = 0; s < sections_.size(); ++s) {
        if (!SameName(sections_[s], Trim(section)))
            continue;
        for (const Line& line : lines_) {
            bool seen = false;
            for (const std::string& k : keys)
                seen = seen || SameName(k, line.key);
            if (line.section == s && !seen)
                keys.push_back(line.key);
        }
        break;
    }
    return keys;
}

}  // namespace qm
