// UTF-8 conversion cases found by fuzzing.
#include "xml/xml.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf8To16More, AnOverlongZeroEndsTheTextLikeAZeroByte) {
    // C0 80 and E0 80 80 decode to zero; with four or more bytes left they go through the
    // inline two- and three-byte decoding, which must end the text just as the general path
    // (and a plain zero byte) does.
    for (const std::string& zero : {std::string("\xC0\x80", 2), std::string("\xE0\x80\x80", 3),
                                    std::string(1, '\0')}) {
        const std::string in = "ab" + zero + "cdefgh";
        const int count = static_cast<int>(in.size());
        EXPECT_EQ(CMarkup::UTF8To16(nullptr, in.data(), count), 2);
        char16_t out[16];
        for (char16_t& c : out)
            c = u'#';
        EXPECT_EQ(CMarkup::UTF8To16(out, in.data(), count), static_cast<int>(2 + zero.size()));
        EXPECT_EQ(std::u16string(out, 3), std::u16string(u"ab\0", 3));
        EXPECT_EQ(out[3], u'#');
    }
}

}  // namespace
