// The text of a real in an RPC III header, which the stand-in host's writer
// and the front end's reader and writer share.
#ifndef SORVAN_FRAME_RPC3_TEXT_H
#define SORVAN_FRAME_RPC3_TEXT_H

#include <charconv>
#include <string>

namespace sorvan {

// "%.6E" as glibc prints it ("1.000000E-03"), the same on every platform.
inline std::string rpc3_real(double value) {
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 6).ptr;
    std::string out(text, end);
    for (char &c : out)
        if (c == 'e') c = 'E';
    return out;
}

} // namespace sorvan

#endif
