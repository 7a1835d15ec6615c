// The pieces of the hand-written SVG pictures (road plot, response plot,
// geometry views): numbers, escaped text, text and line elements.
#ifndef SORVAN_ANALYSIS_SVG_H
#define SORVAN_ANALYSIS_SVG_H

#include <cstdio>
#include <string>

namespace sorvan::analysis::svg {

// A coordinate with the given number of decimals.
inline std::string number(double v, int decimals = 1) {
    char out[64];
    std::snprintf(out, sizeof out, "%.*f", decimals, v);
    return out;
}

// Text as XML character data: markup characters escaped, control
// characters (not allowed in XML text) replaced by "?".
inline std::string escape(const std::string &body) {
    std::string out;
    for (char c : body) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
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
