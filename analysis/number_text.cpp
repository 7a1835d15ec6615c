#include "analysis/number_text.h"

#include <charconv>
#include <system_error>

namespace sorvan {

std::string shortest(double v) {
    char text[32]; // the longest shortest form, "-2.2250738585072014e-308", has 24
    auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    return ec == std::errc() ? std::string(text, end) : std::string("nan");
}

} // namespace sorvan
