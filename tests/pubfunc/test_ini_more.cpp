// INI rewriting cases found by fuzzing.
#include "platform/ini.h"

#include <gtest/gtest.h>

namespace {

using platform::ini::lookup;
using platform::ini::update;

TEST(IniUpdateMore, LastLineEndingInCarriageReturnKeepsItsValue) {
    // A last line "k=1\r\r" without a line feed reads as "1\r" (one carriage return is the
    // line end). Completing it for a new entry must not add a second one to its value.
    for (const std::string& text : {std::string("[a]\nk=1\r\r"), std::string("[a]\r\nk=1\r\r")}) {
        std::u16string before, after;
        ASSERT_TRUE(lookup(text, u"a", u"k", &before));
        const std::string sameSection = update(text, u"a", u"n", u"2");
        const std::string newSection = update(text, u"b", u"n", u"2");
        for (const std::string& updated : {sameSection, newSection}) {
            ASSERT_TRUE(lookup(updated, u"a", u"k", &after));
            EXPECT_EQ(after, before);
            EXPECT_EQ(updated.compare(0, text.size(), text), 0);  // nothing of the old text lost
        }
        std::u16string added;
        EXPECT_TRUE(lookup(sameSection, u"a", u"n", &added));
        EXPECT_EQ(added, u"2");
        EXPECT_TRUE(lookup(newSection, u"b", u"n", &added));
        EXPECT_EQ(added, u"2");
    }
    EXPECT_EQ(update("[a]\nk=1\r", u"a", u"n", u"2"), "[a]\nk=1\r\nn=2\n");
}

}  // namespace
