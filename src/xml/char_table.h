// The character classes of the XML scanner, the attribute reader and the escaper (internal):
// one table of 128 entries, each a set of class bits, built at compile time.
#ifndef NXUTIL_XML_CHAR_TABLE_H
#define NXUTIL_XML_CHAR_TABLE_H

#include <cstdint>

namespace nxxml {

// Bits of the character-class table; every class lists exactly the characters it holds.
enum CharClass : std::uint16_t {
    CC_SPACE = 0x01,        // white space " \t\n\r": skipped between tokens, white-space nodes
    CC_NAME_END = 0x02,     // " \t\n\r/>": ends a name inside the node scanner
    CC_TOKEN_END = 0x04,    // " \t\n\r<>=\\/?!": ends a token in x_FindName
    CC_ATTR_END = 0x08,     // "= \t\n\r>/?": ends an attribute name
    CC_VALUE_END = 0x10,    // " \t\n\r>": ends an unquoted attribute value
    CC_NAME_CONT = 0x20,    // " =/[]": may follow a matched name in an argument
    CC_NAME_START = 0x40,   // A-Z, a (0x61) and above, "_", ":": may start an element name
    CC_TAG_SPECIAL = 0x80,  // "\0 \t\n\r>=\"'/": interrupts a fast run inside a start tag
    CC_ESCAPE = 0x100,      // "\0<&>\"'": interrupts a fast run of EscapeText
    CC_TAG_NAME_STOP = 0x200,  // "\0 \t\n\r/>=": ends the fast run over a start tag's name
};

struct CharTable {
    std::uint16_t v[128];
};

constexpr CharTable makeCharTable() {
    CharTable t{};
    struct Set {
        const char* chars;
        std::uint16_t bit;
    };
    const Set sets[] = {
        {" \t\n\r", CC_SPACE},
        {" \t\n\r/>", CC_NAME_END},
        {" \t\n\r<>=\\/?!", CC_TOKEN_END},
        {"= \t\n\r>/?", CC_ATTR_END},
        {" \t\n\r>", CC_VALUE_END},
        {" =/[]", CC_NAME_CONT},
        {"_:", CC_NAME_START},
        {" \t\n\r>=\"'/", CC_TAG_SPECIAL},
        {"<&>\"'", CC_ESCAPE},
        {" \t\n\r/>=", CC_TAG_NAME_STOP},
    };
    for (const Set& s : sets)
        for (const char* p = s.chars; *p; ++p)
            t.v[static_cast<unsigned char>(*p)] |= s.bit;
    for (int c = 'A'; c <= 'Z'; ++c)
        t.v[c] |= CC_NAME_START;
    for (int c = 'a'; c < 128; ++c)
        t.v[c] |= CC_NAME_START;
    // The terminating zero stops every run.
    t.v[0] |= CC_TAG_SPECIAL | CC_ESCAPE | CC_TAG_NAME_STOP;
    return t;
}

// Constant: every translation unit reads the same table, already built when the program starts.
inline constexpr CharTable kCharClass = makeCharTable();

// Classes of a UTF-16 unit; every unit from 0x80 up can start and continue a name.
inline unsigned charClass(char16_t c) {
    return c < 128 ? kCharClass.v[c] : static_cast<unsigned>(CC_NAME_START);
}
inline bool isSpace(char16_t c) { return c < 128 && (kCharClass.v[c] & CC_SPACE); }

}  // namespace nxxml

#endif
