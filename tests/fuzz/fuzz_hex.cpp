// Fuzz target of NxByteArray::fromHex and toHex: the result has one byte per two digits, its
// hexadecimal form is the digits read (lower case, a leading zero for an odd count), and bytes
// survive toHex then fromHex.
#include "fuzz_util.h"
#include "text/text.h"

#include <cctype>
#include <string>

using nxfuzz::bytesOf;
using nxfuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const NxByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));
    std::string digits;
    for (std::size_t i = 0; i < size; ++i)
        if (std::isxdigit(data[i]))   // the "C" locale: ASCII digits and letters only
            digits += static_cast<char>(std::tolower(data[i]));
    const NxByteArray decoded = NxByteArray::fromHex(input);
    check(decoded.size() == static_cast<int>((digits.size() + 1) / 2),
          "fromHex gives one byte per two digits");
    check(decoded.constData()[decoded.size()] == 0, "fromHex result is zero-terminated");
    if (digits.size() % 2)
        digits.insert(digits.begin(), '0');
    check(bytesOf(decoded.toHex()) == digits, "fromHex reads every digit in order");

    const NxByteArray hex = input.toHex();
    check(hex.size() == 2 * input.size() && !hex.isNull(), "toHex gives two digits per byte");
    check(bytesOf(NxByteArray::fromHex(hex)) == bytesOf(input), "bytes survive toHex and fromHex");
    return 0;
}
