#include "image/ImageMetadata.h"

#include <array>
#include <cstdio>

namespace quiltara {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool InLatin1(const std::u32string& codePoints) {
    for (char32_t c : codePoints) {
        if (c > 0xFF) {
            return false;
        }
    }
    return true;
}

std::string Latin1(const std::u32string& codePoints) {
    std::string text;
    text.reserve(codePoints.size());
    for (char32_t c : codePoints) {
        text += static_cast<char>(static_cast<unsigned char>(c));
    }
    return text;
}

std::string XmlEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

bool UtcTime(std::time_t time, std::tm& out) {
    return gmtime_r(&time, &out) != nullptr;
}

} // namespace

std::u32string DecodeUtf8(const std::string& text) {
    std::u32string codePoints;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            length = 1;
            c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
        }
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no characters.
        constexpr std::array<char32_t, 5> kLeast = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && c >= kLeast[static_cast<std::size_t>(length)] && c <= 0x10FFFF &&
                (c < 0xD800 || c > 0xDFFF);
        codePoints.push_back(valid ? c : kReplacement);
        i += valid ? static_cast<std::size_t>(length) : 1;
    }
    return codePoints;
}

std::string EncodeUtf8(const std::u32string& codePoints) {
    std::string text;
    for (char32_t c : codePoints) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::string CleanUtf8Line(const std::string& text) {
    std::u32string codePoints = DecodeUtf8(text);
    for (char32_t& c : codePoints) {
        if (IsControl(c)) {
            c = U' ';
        }
    }
    return EncodeUtf8(codePoints);
}

std::string ImageMetadata::SourceLine() const {
    if (terms.empty()) {
        return source;
    }
    return source.empty() ? "terms of use: " + terms : source + " (terms of use: " + terms + ")";
}

std::string Rfc1123Time(std::time_t time) {
    std::tm utc{};
    if (!UtcTime(time, utc)) {
        return {};
    }
    static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                         "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Written by hand: strftime's names follow the locale, the convention's do not.
    char text[80];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                  kDays[static_cast<std::size_t>(utc.tm_wday)], utc.tm_mday,
                  kMonths[static_cast<std::size_t>(utc.tm_mon)], utc.tm_year + 1900, utc.tm_hour,
                  utc.tm_min, utc.tm_sec);
    return text;
}

std::string TiffDateTime(std::time_t time) {
    std::tm utc{};
    if (!UtcTime(time, utc)) {
        return {};
    }
    char text[80];
    std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::vector<PngTextEntry> PngTextEntries(const ImageMetadata& metadata) {
    const std::array<std::pair<const char*, std::string>, 4> fields = {{
        {"Copyright", metadata.copyright},
        {"Source", metadata.SourceLine()},
        {"Software", metadata.software},
        {"Creation Time", metadata.created != 0 ? Rfc1123Time(metadata.created) : ""},
    }};
    std::vector<PngTextEntry> entries;
    for (const auto& [keyword, value] : fields) {
        const std::u32string codePoints = DecodeUtf8(CleanUtf8Line(value));
        if (codePoints.empty()) {
            continue;
        }
        if (InLatin1(codePoints)) {
            entries.push_back(PngTextEntry{keyword, Latin1(codePoints), false});
        } else {
            entries.push_back(PngTextEntry{keyword, EncodeUtf8(codePoints), true});
        }
    }
    return entries;
}

std::string GdalMetadataXml(const ImageMetadata& metadata) {
    const std::array<std::pair<const char*, const std::string*>, 3> items = {{
        {"ATTRIBUTION", &metadata.copyright},
        {"SOURCE", &metadata.source},
        {"TERMS_OF_USE", &metadata.terms},
    }};
    std::string xml = "<GDALMetadata>\n";
    bool any = false;
    for (const auto& [name, value] : items) {
        if (!value->empty()) {
            xml += std::string("  <Item name=\"") + name + "\">" +
                   XmlEscaped(CleanUtf8Line(*value)) + "</Item>\n";
            any = true;
        }
    }
    return any ? xml + "</GDALMetadata>\n" : std::string();
}

} // namespace quiltara
