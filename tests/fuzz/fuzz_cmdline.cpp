// Fuzz target of the command-line readers and the string splitter of pubfunc: a switch's value
// is the text after the first occurrence of the switch up to the next double quote, empty when
// the switch is missing; the pieces of a split joined with the separator give the text back.
// Byte 0 picks how the rest is read (bit 0: UTF-16 units, else one unit per byte); a separator
// is taken from the front of the text (bits 1-2 its length).
#include "fuzz_util.h"
#include "pubfunc/pubfunc.h"

#include <algorithm>
#include <string>
#include <vector>

using nxfuzz::check;

namespace {

void checkSwitch(const std::u16string& line, const std::u16string& value,
                 const std::u16string& switchText) {
    check(value.find(u'"') == std::u16string::npos, "a switch value holds no double quote");
    const std::size_t at = line.find(switchText);
    if (at == std::u16string::npos) {
        check(value.empty(), "a missing switch gives empty text");
        return;
    }
    const std::size_t from = at + switchText.size();
    check(line.compare(from, value.size(), value) == 0, "the value follows the switch");
    check(from + value.size() == line.size() || line[from + value.size()] == u'"',
          "the value ends at a double quote or at the end of the line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::u16string line = nxfuzz::textOf(data + 1, size - 1, data[0] & 1);

    checkSwitch(line, pubfunc::getQXPathFromCmdLine(line), u"-qxpt \"");
    checkSwitch(line, pubfunc::getGrabEnginePathFromCmdLine(line), u"-engine \"");

    const std::size_t sepLength = std::min<std::size_t>((data[0] >> 1) & 3, line.size());
    const std::u16string separator = line.substr(0, sepLength), text = line.substr(sepLength);
    std::vector<std::u16string> pieces(1, u"kept");
    pubfunc::splitString(text, separator, pieces);
    check(pieces.size() >= 2 && pieces[0] == u"kept", "splitting appends to the vector");
    std::u16string joined;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        joined += (i > 1 ? separator : std::u16string()) + pieces[i];
        check(separator.empty() || pieces[i].find(separator) == std::u16string::npos,
              "a piece holds no separator");
    }
    check(joined == text, "pieces joined with the separator give the text");
    return 0;
}
