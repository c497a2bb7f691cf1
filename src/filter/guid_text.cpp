#include "filter/guid_text.h"

#include <cstdint>

namespace qm {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool Literal(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c)
            return false;
        ++pos_;
        return true;
    }

    // One to `width` hexadecimal digits; width is at most 8, so the value fits 32 bits.
    bool Field(int width, uint32_t& value) {
        value = 0;
        int digits = 0;
        while (digits < width && pos_ < text_.size()) {
            const int d = HexDigit(text_[pos_]);
            if (d < 0)
                break;
            value = (value << 4) | static_cast<uint32_t>(d);
            ++digits;
            ++pos_;
        }
        return digits > 0;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

bool Parse(std::string_view text, EffectGuid& guid) {
    Reader in(text);
    uint32_t d2 = 0, d3 = 0;
    if (!in.Literal('{') || !in.Field(8, guid.data1) || !in.Literal('-') || !in.Field(4, d2) ||
        !in.Literal('-') || !in.Field(4, d3) || !in.Literal('-')) {
        return false;
    }
    guid.data2 = static_cast<uint16_t>(d2);
    guid.data3 = static_cast<uint16_t>(d3);
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && !in.Literal('-'))
            return false;
        uint32_t byte = 0;
        if (!in.Field(2, byte))
            return false;
        guid.data4[i] = static_cast<uint8_t>(byte);
    }
    return true;
}

}  // namespace

bool GuidFromText(std::string_view text, EffectGuid& guid) {
    EffectGuid parsed{};
    if (!Parse(text, parsed)) {
        guid = EffectGuid{};
        return false;
    }
    guid = parsed;
    return true;
}

}  // namespace qm
