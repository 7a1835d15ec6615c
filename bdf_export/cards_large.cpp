// The lines of TF cards in large fields: the card name with "*" in the first
// 8 characters, four 16-character fields to a line, each small-field line
// of the card as two lines, the second opened by "*" and seven blanks.
// Reals keep the digits of BDFreal16; the fields a line does not use are
// left out, not padded.
#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"

#include <charconv>
#include <cstring>

namespace {

constexpr size_t name_width = 8;
constexpr size_t large_width = 16;

char *put_name(char *p, const char *name) {
    const size_t n = std::strlen(name);
    std::memcpy(p, name, n);
    std::memset(p + n, ' ', name_width - n);
    return p + name_width;
}

// Right-justified; an int32 takes at most 11 of the 16 characters.
char *put_int(char *p, int32_t value) {
    char digits[12];
    const auto n =
        static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    std::memset(p, ' ', large_width - n);
    std::memcpy(p + large_width - n, digits, n);
    return p + large_width;
}

char *put_real(char *p, double value) {
    std::memcpy(p, BDFreal16(value).text, large_width);
    return p + large_width;
}

char *put_end(char *p) {
    *p = '\n';
    return p + 1;
}

size_t length(const char *start, const char *end) {
    return static_cast<size_t>(end - start);
}

} // namespace

size_t BDFlarge_tf_head(char *out, int32_t point, int32_t component, double b0, double b1,
                        double b2) {
    char *p = put_int(put_name(out, "TF*"), tf_id);
    p = put_real(put_int(put_int(p, point), component), b0);
    p = put_real(put_real(put_name(put_end(p), "*"), b1), b2);
    return length(out, put_end(p));
}

size_t BDFlarge_tf_term(char *out, int32_t point, int32_t component, double a0, double a1,
                        double a2) {
    char *p = put_int(put_int(put_name(out, "*"), point), component);
    p = put_real(put_real(p, a0), a1);
    p = put_real(put_name(put_end(p), "*"), a2);
    return length(out, put_end(p));
}
