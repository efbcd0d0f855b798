#include "serial/portnames.h"

#include "core/text.h"

#include <algorithm>

namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    const std::string ua = UpperAscii(a), ub = UpperAscii(b);
    return ua != ub ? ua < ub : a < b;
}

} // namespace

// The one ordering rule of the Port list, whatever the platform: as text
// ignoring case, names that differ only in case in byte order.
void SortPortNames(std::vector<std::string>& names) { std::sort(names.begin(), names.end(), LessIgnoringCase); }
