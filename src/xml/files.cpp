// Whole-document input and output: UTF-8 files (no byte-order mark) read and written in one
// block, and the document-level operations built on them.
#include "xml/xml_internal.h"
#include "platform/file.h"
#include "text/format.h"

#include <cerrno>
#include <cstring>
#include <memory>

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
    std::FILE* f = platform::openFile(fileName.pcsz, "rb");
    if (!f) {
        if (resultOut)
            *resultOut = x_GetLastError();
        return false;
    }
    const int flags = docFlagsInOut ? *docFlagsInOut : 0;
    docString.clear();
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    if (size < 0)
        size = 0;
    int units = 0;
    if (size > 0) {
        // The bytes come from a mapping of the file when one can be made (no copy, no buffer
        // to fill), otherwise from one read into a buffer.
        platform::FileView view;
        std::unique_ptr<char[]> buffer;
        const char* bytes;
        int got;
        if (platform::mapFileRead(fileName.pcsz, view) && view.size >= size) {
            bytes = view.data;
            got = static_cast<int>(size);
        } else {
            platform::unmapFile(view);
            buffer.reset(new char[static_cast<std::size_t>(size)]);
            bytes = buffer.get();
            got = nxxml::toInt(std::fread(buffer.get(), 1, static_cast<std::size_t>(size), f));
        }
        units = UTF8To16(nullptr, bytes, got);
        if (units > 0) {
            // The string's own terminator slot takes the zero a converted zero byte stores.
            docString.resize(static_cast<std::size_t>(units));
            UTF8To16(&docString[0], bytes, got);
        }
        platform::unmapFile(view);
    }
    if (resultOut)
        *resultOut = nxFormatString(u"%s%d bytes to %d wide chars", u"", static_cast<int>(size),
                                    units);
    std::fclose(f);
    if (docFlagsInOut)
        *docFlagsInOut = flags;
    return true;
}

bool CMarkup::WriteTextFile(MCD_CSTR fileName, std::u16string& docString,
                            std::u16string* resultOut, int* docFlagsInOut) {
    std::FILE* f = platform::openFile(fileName.pcsz, "wb");
    if (!f) {
        if (resultOut)
            *resultOut = x_GetLastError();
        return false;
    }
    const int flags = docFlagsInOut ? *docFlagsInOut : 0;
    bool ok = true;
    int bytes = 0;
    if (!docString.empty()) {
        bytes = UTF16To8(nullptr, docString.c_str(), 0);
        std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(bytes) + 1]);
        UTF16To8(buffer.get(), docString.c_str(), bytes + 1);
        ok = std::fwrite(buffer.get(), 1, static_cast<std::size_t>(bytes), f) ==
             static_cast<std::size_t>(bytes);
    }
    // Buffered bytes reach the file at close; a failure there is a failed write too.
    if (std::fclose(f) != 0)
        ok = false;
    if (resultOut) {
        if (ok)
            *resultOut = nxFormatString(u"%d wide chars to %s%d bytes",
                                        nxxml::toInt(docString.size()), u"", bytes);
        else
            *resultOut = x_GetLastError();
    }
    if (docFlagsInOut)
        *docFlagsInOut = flags;
    return ok;
}

bool CMarkup::Load(MCD_CSTR fileName) {
    if (!ReadTextFile(fileName, docText, &resultText, &docFlags))
        return false;
    return x_ParseDoc();
}

bool CMarkup::Save(MCD_CSTR fileName) {
    return WriteTextFile(fileName, docText, &resultText, &docFlags);
}

bool CMarkup::SetDoc(const char16_t* doc) {
    if (doc)
        docText = doc;
    else
        docText.clear();
    resultText.clear();
    return x_ParseDoc();
}

bool CMarkup::SetDoc(const std::u16string& doc) {
    docText = doc;
    resultText.clear();
    return x_ParseDoc();
}
