// The pieces of the hand-written SVG pictures (road plot, response plot,
// geometry views): numbers, escaped text, text and line elements.
#ifndef SORVAN_ANALYSIS_SVG_H
#define SORVAN_ANALYSIS_SVG_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace sorvan::analysis::svg {

// A coordinate with the given number of decimals.
inline std::string number(double v, int decimals = 1) {
    char out[64];
    std::snprintf(out, sizeof out, "%.*f", decimals, v);
    return out;
}

// The length of the well-formed UTF-8 sequence that starts at s[i] and
// stands for a character XML allows (1 to 4 bytes), 0 when there is none:
// a stray continuation byte, a sequence cut short, an overlong form, a
// surrogate, a code point beyond U+10FFFF, U+FFFE or U+FFFF.
inline std::size_t xml_utf8_length(const std::string &s, std::size_t i) {
    const auto at = [&](std::size_t k) {
        return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u;
    };
    const auto tail = [&](std::size_t k) { return (at(k) & 0xc0u) == 0x80u; };
    const unsigned b = at(0);
    if (b < 0x80) return 1;
    if (b >= 0xc2 && b <= 0xdf) return tail(1) ? 2 : 0;
    if (b >= 0xe0 && b <= 0xef) {
        const unsigned lo = b == 0xe0 ? 0xa0 : 0x80, hi = b == 0xed ? 0x9f : 0xbf;
        if (at(1) < lo || at(1) > hi || !tail(2)) return 0;
        return b == 0xef && at(1) == 0xbf && at(2) >= 0xbe ? 0 : 3;
    }
    if (b >= 0xf0 && b <= 0xf4) {
        const unsigned lo = b == 0xf0 ? 0x90 : 0x80, hi = b == 0xf4 ? 0x8f : 0xbf;
        return at(1) >= lo && at(1) <= hi && tail(2) && tail(3) ? 4 : 0;
    }
    return 0;
}

// Text as XML character data: markup characters escaped, control
// characters (not allowed in XML text) replaced by "?", and every byte
// that is not part of a well-formed UTF-8 character by U+FFFD, so that
// names and labels holding any bytes leave the picture well-formed.
inline std::string escape(const std::string &body) {
    std::string out;
    for (std::size_t i = 0; i < body.size();) {
        const char c = body[i];
        const std::size_t n = xml_utf8_length(body, i);
        if (n == 0) {
            out += "\xef\xbf\xbd"; // U+FFFD
            ++i;
            continue;
        }
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (n == 1)
            out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        else
            out.append(body, i, n);
        i += n;
    }
    return out;
}

inline std::string text(double x, double y, const std::string &body, const char *attributes = "",
                        int decimals = 1) {
    return "<text x=\"" + number(x, decimals) + "\" y=\"" + number(y, decimals) + "\" " +
           attributes + ">" + body + "</text>\n";
}

inline std::string line(double x1, double y1, double x2, double y2, const char *style,
                        int decimals = 1) {
    return "<line x1=\"" + number(x1, decimals) + "\" y1=\"" + number(y1, decimals) + "\" x2=\"" +
           number(x2, decimals) + "\" y2=\"" + number(y2, decimals) + "\" " + style + "/>\n";
}

// "10" with the exponent raised.
inline std::string decade_label(int exponent) {
    return "10<tspan dy=\"-6\" font-size=\"10\">" + std::to_string(exponent) + "</tspan>";
}

} // namespace sorvan::analysis::svg

#endif
