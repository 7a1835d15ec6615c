// Numbers as text for people and for files that are read back.
#ifndef SORVAN_ANALYSIS_NUMBER_TEXT_H
#define SORVAN_ANALYSIS_NUMBER_TEXT_H

#include <string>

namespace sorvan {

// The shortest decimal text that reads back as exactly v ("nan" for a NaN).
std::string shortest(double v);

} // namespace sorvan

#endif
