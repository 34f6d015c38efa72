// The XML document: CMarkup holds one document as a single UTF-16 text plus an index of its
// elements (one fixed-size record per element, linked into a tree by integer indexes), and
// works on it through a cursor of three positions (parent, main, child).
//
// The parser is tolerant: it never rejects a text. Damaged structure is repaired in the index
// (elements without end tags, stray end tags), the first problem is described in GetError(),
// and IsWellFormed() says whether the document is a proper single-rooted XML tree. Edits
// rewrite one stretch of the text and shift the offsets of the records behind it, so the text
// returned by GetDoc() is always exactly what Save() writes.
//
// Map of the class: cursor and queries; edits; static text services; the index types (ElemPos,
// PosArray, SavedPosMap, NodePos, TokenPos); the protected x_ members that maintain the index.
#ifndef NXUTIL_XML_H
#define NXUTIL_XML_H

#include "nxutil_export.h"

#include <string>

/// A constant pointer to zero-terminated UTF-16 text, taken by every text argument of CMarkup.
/// Built from a pointer (null allowed where a member says so) or from a string, into which it
/// then points (the string must outlive the call).
struct NXUTIL_API MCD_CSTR {
    MCD_CSTR() : pcsz(nullptr) {}
    MCD_CSTR(const char16_t* p) : pcsz(p) {}
    MCD_CSTR(const std::u16string& s) : pcsz(s.c_str()) {}
    operator const char16_t*() const { return pcsz; }
    const char16_t* pcsz;
};

class NXUTIL_API CMarkup {
public:
    /// An empty document: GetError() reads "Empty document".
    CMarkup();
    /// Parses `doc` (document flags 0).
    CMarkup(MCD_CSTR doc);
    /// An empty document with the given document flags (DOC_IGNORE_CASE and others).
    CMarkup(int flags);
    /// A copy with its own text, records and saved positions, at the same positions. Like the
    /// standard containers it holds, a copy that runs out of memory throws std::bad_alloc
    /// (the assigned-to document is then unchanged); every other member reports a result.
    CMarkup(const CMarkup& other);
    CMarkup& operator=(const CMarkup& other);
    ~CMarkup();

    /// Node types: results of GetNodeType and FindNode, masks of FindNode, types of AddNode.
    enum MarkupNodeType {
        NODE_ELEMENT = 0x01,
        NODE_TEXT = 0x02,
        NODE_WHITESPACE = 0x04,
        NODE_CDATA_SECTION = 0x08,
        NODE_PROCESSING_INSTRUCTION = 0x10,
        NODE_COMMENT = 0x20,
        NODE_DOCUMENT_TYPE = 0x40,
        NODE_LONE_END_TAG = 0x80,
        NODE_ERROR = 0x8000
    };
    /// Option bits of the add, insert and set operations (shared with NodePos::nodeFlags and
    /// TokenPos::tokenFlags).
    enum MarkupNodeFlags {
        OPT_CDATA = 0x01,           ///< write data as a CDATA section
        OPT_NO_LINES = 0x02,        ///< insert without line breaks
        OPT_XHTML_SPACE = 0x04,     ///< close an empty element with " />"
        OPT_KEEP_REFS = 0x08,       ///< leave existing entity and character references as they are
        OPT_NO_END = 0x10,          ///< create the element without an end tag
        OPT_ESCAPE_QUOTES = 0x100,  ///< escape ' and " too
        OPT_REPLACE = 0x1000,       ///< internal: the insertion replaces the named stretch
        OPT_INSERT = 0x2000,        ///< internal: insert before the position instead of after
        OPT_CHILD = 0x4000,         ///< internal: operate on the child position
        TOKEN_QUOTED = 0x8000,      ///< in tokenFlags: the last token was a quoted value
        NODE_EMPTY_ELEMENT = 0x10000  ///< in nodeFlags: the start tag ended with "/>"
    };
    /// Document flags; only DOC_IGNORE_CASE changes behaviour, the rest are kept and handed to
    /// the file functions unchanged.
    enum MarkupDocFlags {
        DOC_IGNORE_CASE = 8
    };
    /// High bits of ElemPos::flags.
    enum MarkupElemFlags {
        ELEM_DELETED = 0x20000,
        ELEM_FIRST = 0x80000,
        ELEM_UNENDED = 0x100000,
        ELEM_HAS_LONE_END = 0x200000,
        ELEM_ILL_FORMED = 0x800000
    };
    /// Flags of a saved-position entry.
    enum SavedPosFlags {
        SAVED_MAIN = 1,
        SAVED_CHILD = 2,
        SAVED_USED = 4,
        SAVED_LAST = 8
    };

    // ---- document --------------------------------------------------------------------------

    /// Replaces the text (null empties it) and parses it; the result is IsWellFormed().
    bool SetDoc(const char16_t* doc);
    bool SetDoc(const std::u16string& doc);
    /// The whole document text.
    const std::u16string& GetDoc() const { return docText; }
    /// The message of the last parse, load or save ("" when a parse found nothing to report).
    const std::u16string& GetError() const { return resultText; }
    /// True when the document has exactly one root element and the parse met no error.
    bool IsWellFormed();
    int GetDocFlags() const { return docFlags; }
    /// Stores the flags; the text is not parsed again.
    void SetDocFlags(int flags) { docFlags = flags; }
    /// Reads a UTF-8 file and parses it. False when the file cannot be read (the document is
    /// then unchanged and GetError() holds the system's message) or is not well-formed.
    bool Load(MCD_CSTR fileName);
    /// Writes the text as UTF-8 (no byte-order mark); false with the system's message on failure.
    bool Save(MCD_CSTR fileName);

    // ---- cursor and queries ----------------------------------------------------------------

    /// Next sibling element after the main position whose name matches (null or empty: any).
    bool FindElem(MCD_CSTR tagName = MCD_CSTR());
    /// Next child element of the main element after the child position whose name matches.
    bool FindChildElem(MCD_CSTR tagName = MCD_CSTR());
    /// Steps into the main element: it becomes the parent position.
    bool IntoElem();
    /// Steps out to the parent: it becomes the main position.
    bool OutOfElem();
    void ResetPos() { x_SetPos(0, 0, 0); }
    void ResetMainPos() { x_SetPos(parentPos, 0, 0); }
    void ResetChildPos() { x_SetPos(parentPos, mainPos, 0); }
    /// Next node of a type in typeMask (0: any) after the current node; its type, or 0.
    int FindNode(int typeMask = 0);
    int GetNodeType() { return nodeType; }
    /// Name of the current node: the element's tag name, "#text", "#comment", a PI's target...
    std::u16string GetTagName() const;
    std::u16string GetChildTagName() const { return x_GetTagName(childPos); }
    /// Unescaped attribute value of the main / child element ("" when missing).
    std::u16string GetAttrib(MCD_CSTR attribName) const { return x_GetAttrib(mainPos, attribName); }
    std::u16string GetChildAttrib(MCD_CSTR attribName) const {
        return x_GetAttrib(childPos, attribName);
    }
    /// Raw name of the attribute numbered n (from 0) of the main element or current PI.
    std::u16string GetAttribName(int n) const;
    /// Character data of the main / child position (unescaped, CDATA unwrapped).
    std::u16string GetData() const { return x_GetData(mainPos); }
    std::u16string GetChildData() const { return x_GetData(childPos); }
    /// Raw text between the main element's start and end tags.
    std::u16string GetElemContent() const { return x_GetElemContent(mainPos); }
    /// Raw text of the main / child element, start tag through end tag, plus trailing space.
    std::u16string GetSubDoc() const { return x_GetSubDoc(mainPos); }
    std::u16string GetChildSubDoc() const { return x_GetSubDoc(childPos); }
    /// The encoding named by a leading XML declaration of `doc`, or "".
    static std::u16string GetDeclaredEncoding(MCD_CSTR doc);
    /// Remembers the current position under a name (exact, case-sensitive); false for null.
    bool SavePos(MCD_CSTR posName = MCD_CSTR(u""));
    /// Returns to a saved position; false when the name is unknown or its element was removed.
    bool RestorePos(MCD_CSTR posName = MCD_CSTR(u""));

    // ---- edits -----------------------------------------------------------------------------

    bool AddElem(MCD_CSTR tagName, MCD_CSTR data = MCD_CSTR(), int flags = 0) {
        return x_AddElem(tagName, data, flags);
    }
    bool InsertElem(MCD_CSTR tagName, MCD_CSTR data = MCD_CSTR(), int flags = 0) {
        return x_AddElem(tagName, data, flags | OPT_INSERT);
    }
    bool AddChildElem(MCD_CSTR tagName, MCD_CSTR data = MCD_CSTR(), int flags = 0) {
        return x_AddElem(tagName, data, flags | OPT_CHILD);
    }
    bool InsertChildElem(MCD_CSTR tagName, MCD_CSTR data = MCD_CSTR(), int flags = 0) {
        return x_AddElem(tagName, data, flags | OPT_INSERT | OPT_CHILD);
    }
    bool AddElem(MCD_CSTR tagName, int data, int flags = 0) {
        return x_AddElem(tagName, data, flags);
    }
    bool InsertElem(MCD_CSTR tagName, int data, int flags = 0) {
        return x_AddElem(tagName, data, flags | OPT_INSERT);
    }
    bool AddChildElem(MCD_CSTR tagName, int data, int flags = 0) {
        return x_AddElem(tagName, data, flags | OPT_CHILD);
    }
    bool InsertChildElem(MCD_CSTR tagName, int data, int flags = 0) {
        return x_AddElem(tagName, data, flags | OPT_INSERT | OPT_CHILD);
    }
    /// Sets (or adds) an attribute of the main element or current PI; the value is escaped
    /// with quotes and written between quotation marks.
    bool AddAttrib(MCD_CSTR attribName, MCD_CSTR value) { return x_SetAttrib(mainPos, attribName, value); }
    bool AddAttrib(MCD_CSTR attribName, int value) { return x_SetAttrib(mainPos, attribName, value); }
    bool SetAttrib(MCD_CSTR attribName, MCD_CSTR value) { return x_SetAttrib(mainPos, attribName, value); }
    bool SetAttrib(MCD_CSTR attribName, int value) { return x_SetAttrib(mainPos, attribName, value); }
    bool AddChildAttrib(MCD_CSTR attribName, MCD_CSTR value) {
        return x_SetAttrib(childPos, attribName, value);
    }
    bool AddChildAttrib(MCD_CSTR attribName, int value) { return x_SetAttrib(childPos, attribName, value); }
    bool SetChildAttrib(MCD_CSTR attribName, MCD_CSTR value) {
        return x_SetAttrib(childPos, attribName, value);
    }
    bool SetChildAttrib(MCD_CSTR attribName, int value) { return x_SetAttrib(childPos, attribName, value); }
    /// Replaces the data of the main / child position; false on an element with child elements.
    bool SetData(MCD_CSTR data, int flags = 0) { return x_SetData(mainPos, data, flags); }
    bool SetData(int data) { return x_SetData(mainPos, data); }
    bool SetChildData(MCD_CSTR data, int flags = 0) { return x_SetData(childPos, data, flags); }
    bool SetChildData(int data) { return x_SetData(childPos, data); }
    /// Replaces the main element's content with markup; false (after the change) when the
    /// markup is not well-formed.
    bool SetElemContent(MCD_CSTR content) { return x_SetElemContent(content); }
    /// Adds a node of the given type after / before the current node.
    bool AddNode(int type, MCD_CSTR nodeText) { return x_AddNode(type, nodeText, 0); }
    bool InsertNode(int type, MCD_CSTR nodeText) { return x_AddNode(type, nodeText, OPT_INSERT); }
    /// Adds a piece of markup; true when it is one well-formed element.
    bool AddSubDoc(MCD_CSTR subDoc) { return x_AddSubDoc(subDoc, 0); }
    bool InsertSubDoc(MCD_CSTR subDoc) { return x_AddSubDoc(subDoc, OPT_INSERT); }
    bool AddChildSubDoc(MCD_CSTR subDoc) { return x_AddSubDoc(subDoc, OPT_CHILD); }
    bool InsertChildSubDoc(MCD_CSTR subDoc) { return x_AddSubDoc(subDoc, OPT_CHILD | OPT_INSERT); }
    /// Removes the current node (element or other); the node before it becomes current.
    bool RemoveNode();
    /// Removes the main / child element; its previous sibling takes its place.
    bool RemoveElem();
    bool RemoveChildElem();

    // ---- static text services --------------------------------------------------------------

    /// "<&>" become entities ("'" and '"' too with OPT_ESCAPE_QUOTES); with OPT_KEEP_REFS
    /// references already present stay. "a<b&c" => "a&lt;b&amp;c".
    static std::u16string EscapeText(MCD_CSTR nodeText, int flags = 0);
    /// Replaces the five named entities and numeric references over textLength units (-1: up
    /// to the terminating zero). "&#65;&lt;" => "A<"; unknown references stay as written.
    static std::u16string UnescapeText(MCD_CSTR nodeText, int textLength = -1);
    /// Decodes one code point and advances; -1 for an invalid sequence.
    static int DecodeCharUTF8(const char*& utf8);
    /// Appends one code point at offset `length` (null buffer: only counts) and advances it.
    static void EncodeCharUTF8(int codePoint, char* utf8, int& length);
    static int DecodeCharUTF16(const char16_t*& utf16);
    static void EncodeCharUTF16(int codePoint, char16_t* utf16, int& length);
    /// Converts byteCount bytes; null buffer: the units needed, else the bytes consumed.
    /// Invalid sequences become '?'; a zero ends the conversion.
    static int UTF8To16(char16_t* utf16, const char* utf8, int byteCount);
    /// Converts up to the terminating zero, at most byteCount bytes of output (null buffer: no
    /// bound); the bytes written or needed. A zero byte follows when room remains.
    static int UTF16To8(char* utf8, const char16_t* utf16, int byteCount);
    /// Reads a UTF-8 file into docString; the report goes to *resultOut ("%s%d bytes to %d wide
    /// chars"), or the system's message when the file cannot be opened.
    static bool ReadTextFile(MCD_CSTR fileName, std::u16string& docString,
                             std::u16string* resultOut = nullptr, int* docFlagsInOut = nullptr);
    /// Writes docString as UTF-8, creating or truncating the file.
    static bool WriteTextFile(MCD_CSTR fileName, std::u16string& docString,
                              std::u16string* resultOut = nullptr, int* docFlagsInOut = nullptr);

    // ---- the index -------------------------------------------------------------------------

    /// One element: where it lies in the text and how it is linked. Eight 32-bit words. The
    /// bounded fields are never written with a value they cannot hold: texts that would need
    /// one are refused by the parser, edits that would need one return false.
    struct ElemPos {
        int start;                  ///< offset of the "<"
        int length;                 ///< start tag through end tag
        unsigned int startTagLen : 22;  ///< a start tag is at most 4,194,303 units
        int endTagLen : 10;         ///< read sign-extended; an end tag is shorter than 512 units
        int flags;                  ///< low 16 bits: level (at most 65,535); high bits: ELEM_* flags
        int parent;
        int child;                  ///< first child
        int next;                   ///< next sibling (0: last)
        int prev;                   ///< previous sibling; the first child's names the last one

        int StartTagLen() const { return static_cast<int>(startTagLen); }
        void SetStartTagLen(int n) { startTagLen = static_cast<unsigned int>(n) & 0x3FFFFF; }
        int EndTagLen() const { return endTagLen; }
        void SetEndTagLen(int n) { endTagLen = n; }
        int Level() const { return flags & 0xFFFF; }
        void SetLevel(int level) { flags = (flags & ~0xFFFF) | (level & 0xFFFF); }
        bool IsEmptyElement() const { return length == StartTagLen(); }
        int StartContent() const { return start + StartTagLen(); }
        int ContentLen() const { return length - StartTagLen() - EndTagLen(); }
        int StartAfter() const { return start + length; }
        void ClearVirtualParent() {
            start = length = 0;
            startTagLen = 0;
            endTagLen = 0;
            flags = parent = child = next = prev = 0;
        }
    };

    /// The records, in segments of 65,536 (2 MiB); only the last segment is ever reallocated.
    struct NXUTIL_API PosArray {
        enum { PA_SEGBITS = 16, PA_SEGMASK = 0xFFFF, PA_SEGSIZE = 0x10000 };
        PosArray() { Clear(); }
        ~PosArray() { Release(); }
        /// Copies the three fields only (the segments stay shared).
        PosArray& operator=(const PosArray& other) = default;
        ElemPos& operator[](int i) const { return segs[i >> PA_SEGBITS][i & PA_SEGMASK]; }
        int GetSize() const { return size; }
        int SegsUsed() const { return ((size - 1) >> PA_SEGBITS) + 1; }
        void Clear() { segs = nullptr; size = 0; segsCapacity = 0; }
        void Release();
        void RemoveAll() { Release(); Clear(); }

        ElemPos** segs;
        int size;
        int segsCapacity;
    };

    /// One named saved position.
    struct SavedPosEntry {
        std::u16string name;
        int pos = 0;
        int entryFlags = 0;
    };

    /// Named saved positions: 7 buckets, each an array whose used entries form a prefix and
    /// whose last entry carries SAVED_LAST.
    struct NXUTIL_API SavedPosMap {
        enum { SPM_SIZE = 7 };
        SavedPosMap() : table(nullptr) {}
        ~SavedPosMap() { RemoveAll(); }
        /// Copies the table pointer only.
        SavedPosMap& operator=(const SavedPosMap& other) = default;
        void AllocMapTable();
        static int Hash(const char16_t* name);
        void Release();
        void RemoveAll() {
            if (table)
                Release();
            table = nullptr;
        }

        SavedPosEntry** table;
    };

    /// One parsed or created node.
    struct NodePos {
        NodePos() : nodeType(0), start(0), length(0), nodeFlags(0) {}
        explicit NodePos(int flags) : nodeType(0), start(0), length(0), nodeFlags(flags) {}
        int nodeType;
        int start;
        int length;
        int nodeFlags;
        std::u16string meta;  ///< element or PI name, or the message of a failed node
    };

    /// The scanning cursor over a text.
    struct NXUTIL_API TokenPos {
        TokenPos(const char16_t* sz, int flags)
            : left(0), right(-1), next(0), text(sz), tokenFlags(flags), preSpaceStart(0),
              preSpaceLength(0) {}
        int Length() const { return right - left + 1; }
        /// Does the token equal tagName, which may continue with one of " =/[]"?
        bool MatchName(const char16_t* tagName) const;

        int left;
        int right;
        int next;
        const char16_t* text;
        int tokenFlags;
        int preSpaceStart;
        int preSpaceLength;
    };

protected:
    // ---- index maintenance -----------------------------------------------------------------
    ElemPos& ELEM(int i) const { return positions[i]; }
    bool x_AllocPosArray(int newSize = 0);
    int x_GetFreePos() {
        if (freePos >= positions.GetSize())
            x_AllocPosArray();
        return freePos++;
    }
    int x_ReleasePos(int index);
    int x_ReleaseSubDoc(int index);
    void x_LinkElem(int parentIndex, int afterIndex, int index);
    int x_UnlinkElem(int index);
    void x_DocChange(int offset, int replaceCount, const std::u16string& insertText);
    void x_Adjust(int index, int shift, bool afterOnly = false);
    void x_AdjustForNode(int parentIndex, int index, int shift);
    void x_CheckSavedPos();
    void x_SetPos(int parentIndex, int index, int childIndex) {
        parentPos = parentIndex;
        mainPos = index;
        childPos = childIndex;
        nodeOffset = 0;
        nodeLength = 0;
        nodeType = index ? static_cast<int>(NODE_ELEMENT) : 0;
    }
    void InitDocFlags() { docFlags = 0; }

    // ---- parser ----------------------------------------------------------------------------
    class ElemBuilder;  // the records of one parse run (parser.cpp)
    bool x_ParseDoc();
    int x_ParseElem(int parentIndex, TokenPos& token);
    static int x_ParseNode(TokenPos& token, NodePos& node);
    static bool x_FindAny(const char16_t* text, int& n);
    static bool x_FindName(TokenPos& token);
    static std::u16string x_GetToken(const TokenPos& token);
    static bool x_FindAttrib(TokenPos& token, const char16_t* attribName, int n = 0);

    // ---- queries ---------------------------------------------------------------------------
    int x_FindElem(int parentIndex, int index, const char16_t* tagName) const;
    std::u16string x_GetTagName(int index) const;
    std::u16string x_GetAttrib(int index, const char16_t* attribName) const;
    std::u16string x_GetData(int index) const;
    std::u16string x_GetElemContent(int index) const;
    std::u16string x_GetSubDoc(int index) const;
    std::u16string x_GetPath(int index) const;

    // ---- edits -----------------------------------------------------------------------------
    bool x_AddElem(const char16_t* tagName, const char16_t* value, int options);
    bool x_AddElem(const char16_t* tagName, int value, int options);
    int x_InsertNew(int parentIndex, int& relIndex, NodePos& node);
    // Where an added element or sub-document goes: under the main element beside the child
    // (OPT_CHILD), else beside the main element, or beside the current non-element node.
    void x_InsertionPlace(int options, int& parent, int& rel, NodePos& node) const;
    static bool x_CreateNode(std::u16string& nodeString, int type, const char16_t* nodeText);
    static std::u16string x_EncodeCDATASection(const char16_t* data);
    bool x_SetAttrib(int index, const char16_t* attribName, const char16_t* value);
    bool x_SetAttrib(int index, const char16_t* attribName, int value);
    bool x_SetData(int index, const char16_t* data, int options);
    bool x_SetData(int index, int value);
    bool x_AddNode(int type, const char16_t* nodeText, int options);
    void x_RemoveNode(int parentIndex, int& index, int& type, int& offset, int& length);
    int x_RemoveElem(int index);
    bool x_AddSubDoc(const char16_t* subDoc, int options);
    bool x_SetElemContent(const char16_t* content);
    // Limits checked before an edit changes anything: room for one more record, linked under
    // parentIndex within the 16-bit level.
    bool x_RoomForElement(int parentIndex) const;
    // The temporary parent of a parsed sub-document, and the check after its parse: false (the
    // temporary and every parsed record released) when the parse was refused or an element
    // would sit deeper than a level can say.
    int x_SubDocParent(int level);
    bool x_SubDocFits(int temp, int first, int level);

    static std::u16string x_GetLastError();
    static std::u16string x_PlatformErrorText();
    static std::u16string x_NoMemoryText();
    /// The message of an operation that ran out of memory; returns false for the caller.
    bool x_NoMemory();
    /// Makes `text` the document and parses it; out of memory, the previous document stays.
    bool x_ReplaceDoc(std::u16string& text, const std::u16string& report);
    void x_Swap(CMarkup& other) noexcept;
    void x_CopyFrom(const CMarkup& other);
    struct NoParse {};
    explicit CMarkup(NoParse);

    // ---- data ------------------------------------------------------------------------------
    std::u16string docText;
    std::u16string resultText;
    int parentPos;
    int mainPos;
    int childPos;
    int freePos;
    int releasedPos;
    int nodeType;
    int nodeOffset;
    int nodeLength;
    int docFlags;
    SavedPosMap savedPositions;
    PosArray positions;
};

#endif
