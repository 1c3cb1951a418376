#include "platform/log_font.h"

#include <cstring>
#include <limits>

namespace morvel {

int32_t mulDiv(int32_t number, int32_t numerator, int32_t denominator)
{
    if (denominator == 0)
        return -1;
    // Two 32-bit factors always fit 64 bits exactly; the division works on
    // magnitudes so that the rounding is symmetric about zero.
    const int64_t product = int64_t{number} * int64_t{numerator};
    const bool negative = (product < 0) != (denominator < 0);
    const uint64_t magnitude =
        product < 0 ? uint64_t{0} - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
    const uint64_t divisor = denominator < 0 ? uint64_t{0} - static_cast<uint64_t>(int64_t{denominator})
                                             : static_cast<uint64_t>(denominator);
    uint64_t quotient = magnitude / divisor;
    const uint64_t remainder = magnitude % divisor;
    if (remainder >= divisor - remainder)  // remainder >= divisor / 2, halves away from zero
        ++quotient;
    const uint64_t limit = negative ? uint64_t{1} << 31 : uint64_t{std::numeric_limits<int32_t>::max()};
    if (quotient > limit)
        return -1;
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(quotient)) : static_cast<int32_t>(quotient);
}

void setFaceName(LogFont& font, const std::string& face)
{
    std::memset(font.lfFaceName, 0, sizeof font.lfFaceName);
    const size_t length = std::strlen(face.c_str());  // stops at an embedded NUL
    std::memcpy(font.lfFaceName, face.c_str(), length < kFaceNameSize - 1 ? length : kFaceNameSize - 1);
}

}  // namespace morvel
