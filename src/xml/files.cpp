// Whole-document input and output: UTF-8 files (no byte-order mark) read and written in one
// block, and the document-level operations built on them.
#include "xml/xml_internal.h"
#include "platform/error.h"
#include "platform/file.h"
#include "format/format.h"

#include <cerrno>
#include <cstring>
#include <climits>
#include <new>

namespace {

// The largest file a document holds: its text is indexed with int offsets, and one byte of
// UTF-8 makes at most one UTF-16 unit. A 32-bit process meets the string's own limit (about
// 1 GiB of UTF-16) and its address space first.
long long maxDocumentBytes(const std::u16string& text) {
    const unsigned long long units = text.max_size() - 1;
    return static_cast<long long>(units < INT_MAX ? units : INT_MAX);
}

// "<bytes> bytes to <units> wide chars", the report of every load, put together without the
// formatting engine: most loaded files are small, and this text is part of each one's cost.
std::u16string loadReport(int bytes, int units) {
    std::u16string out;
    out.reserve(40);
    const auto put = [&out](int v) {
        char16_t digits[12];
        int n = 0;
        unsigned u = static_cast<unsigned>(v < 0 ? 0 : v);
        do {
            digits[n++] = static_cast<char16_t>(u'0' + u % 10);
            u /= 10;
        } while (u);
        while (n)
            out += digits[--n];
    };
    put(bytes);
    out += u" bytes to ";
    put(units);
    out += u" wide chars";
    return out;
}

}  // namespace

std::u16string CMarkup::x_GetLastError() {
    const char* message = std::strerror(errno);
    std::size_t len = 0;
    while (message[len] && message[len] != '\r' && message[len] != '\n')
        ++len;
    std::u16string out(static_cast<std::size_t>(UTF8To16(nullptr, message, nxxml::toInt(len))),
                       u'\0');
    if (!out.empty())
        UTF8To16(&out[0], message, nxxml::toInt(len));
    return out;
}

bool CMarkup::ReadTextFile(MCD_CSTR fileName, std::u16string& docString,
                           std::u16string* resultOut, int* docFlagsInOut) {
    const long long limit = maxDocumentBytes(docString);
    platform::FileContents file;
    const platform::FileResult read = file.load(fileName.pcsz, limit);
    if (read != platform::FileResult::Ok) {
        // Nothing is read from a folder, FIFO or device, nor from a file the document cannot
        // hold; the caller's text stays as it was.
        if (resultOut) {
            if (read == platform::FileResult::NotRegular)
                *resultOut = u"Not a regular file";
            else if (read == platform::FileResult::TooLarge)
                *resultOut = nxFormatString(u"File of %I64d bytes is over the limit of %I64d bytes",
                                            file.size(), limit);
            else if (read == platform::FileResult::NoMemory)
                *resultOut = x_NoMemoryText();
            else
                *resultOut = x_PlatformErrorText();
        }
        return false;
    }
    const int flags = docFlagsInOut ? *docFlagsInOut : 0;
    const int size = static_cast<int>(file.size());
    int units = 0;
    try {
        docString.clear();
        if (size > 0) {
            // One pass: a byte makes at most one unit, so the text is converted into a string of
            // `size` zeros (the string's own terminator slot takes the zero a converted zero byte
            // stores), and the units are those up to the last that is not zero: the conversion
            // writes no zero but the one that ends it.
            docString.resize(static_cast<std::size_t>(size));
            UTF8To16(&docString[0], file.data(), size);
            units = size;
            while (units > 0 && !docString[static_cast<std::size_t>(units) - 1])
                --units;
            docString.resize(static_cast<std::size_t>(units));
            // Text of many multi-byte characters gives back the room it did not take.
            if (docString.capacity() - docString.size() > docString.size() / 8)
                docString.shrink_to_fit();
        }
    } catch (const std::bad_alloc&) {
        docString.clear();
        if (resultOut)
            *resultOut = x_NoMemoryText();
        return false;
    }
    if (resultOut)
        *resultOut = loadReport(size, units);
    if (docFlagsInOut)
        *docFlagsInOut = flags;
    return true;
}

bool CMarkup::WriteTextFile(MCD_CSTR fileName, std::u16string& docString,
                            std::u16string* resultOut, int* docFlagsInOut) {
    const int flags = docFlagsInOut ? *docFlagsInOut : 0;
    const int bytes = docString.empty() ? 0 : UTF16To8(nullptr, docString.c_str(), 0);
    char* buffer = static_cast<char*>(platform::allocBuffer(static_cast<std::size_t>(bytes) + 1));
    if (!buffer) {
        if (resultOut)
            *resultOut = x_NoMemoryText();
        return false;
    }
    if (bytes > 0)
        UTF16To8(buffer, docString.c_str(), bytes + 1);
    // The old file stays whole until the new one is complete on the disk.
    const platform::FileResult written =
        platform::replaceFile(fileName.pcsz, buffer, static_cast<std::size_t>(bytes));
    platform::freeBuffer(buffer);
    const bool ok = written == platform::FileResult::Ok;
    if (resultOut) {
        if (ok)
            *resultOut = nxFormatString(u"%d wide chars to %s%d bytes",
                                        nxxml::toInt(docString.size()), u"", bytes);
        else if (written == platform::FileResult::NotRegular)
            *resultOut = u"Not a regular file";
        else
            *resultOut = x_PlatformErrorText();
    }
    if (docFlagsInOut)
        *docFlagsInOut = flags;
    return ok;
}

std::u16string CMarkup::x_NoMemoryText() {
    errno = ENOMEM;
    return x_GetLastError();
}

std::u16string CMarkup::x_PlatformErrorText() {
    errno = platform::errnoOf(platform::lastError().code);
    return x_GetLastError();
}

bool CMarkup::x_NoMemory() {
    resultText = x_NoMemoryText();
    return false;
}

bool CMarkup::x_ReplaceDoc(std::u16string& text, const std::u16string& report) {
    try {
        // The new document is parsed beside the old one, so that running out of memory leaves
        // the old one as it was.
        CMarkup fresh{NoParse()};
        fresh.docFlags = docFlags;
        fresh.docText.swap(text);
        fresh.resultText = report;
        const bool wellFormed = fresh.x_ParseDoc();
        x_Swap(fresh);
        return wellFormed;
    } catch (const std::bad_alloc&) {
        return x_NoMemory();
    }
}

bool CMarkup::Load(MCD_CSTR fileName) {
    std::u16string text;
    std::u16string report;
    int flags = docFlags;
    if (!ReadTextFile(fileName, text, &report, &flags)) {
        resultText.swap(report);
        return false;
    }
    return x_ReplaceDoc(text, report);
}

bool CMarkup::Save(MCD_CSTR fileName) {
    return WriteTextFile(fileName, docText, &resultText, &docFlags);
}

bool CMarkup::SetDoc(const char16_t* doc) {
    std::u16string text;
    try {
        if (doc)
            text = doc;
    } catch (const std::bad_alloc&) {
        return x_NoMemory();
    }
    return x_ReplaceDoc(text, std::u16string());
}

bool CMarkup::SetDoc(const std::u16string& doc) {
    std::u16string text;
    try {
        text = doc;
    } catch (const std::bad_alloc&) {
        return x_NoMemory();
    }
    return x_ReplaceDoc(text, std::u16string());
}
