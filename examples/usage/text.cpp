// Usage: implicitly shared strings and UTF-8 conversion.
#include "text/text.h"

#include <cstdio>

int example_text() {
    NxString title = NxString::fromUtf8("Capture \xE5\xBD\x95\xE5\x88\xB6");  // "Capture 录制"
    NxString copy = title;                    // shares the record: no copy of the text
    copy.append(u" 1080p");                   // the first write detaches the copy
    const NxByteArray utf8 = copy.toUtf8();
    std::printf("%s (%d UTF-16 units, found \"1080p\" at %d)\n", utf8.constData(), copy.size(),
                copy.indexOf(NxString(u"1080p")));
    return title.size() < copy.size() ? 0 : 1;
}
