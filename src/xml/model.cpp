// The document model of CMarkup: construction and copy, the segmented record array, linking and
// releasing records, text splicing with offset adjustment, and named saved positions.
#include "xml/xml_internal.h"
#include "platform/file.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

// Eight words on every target (the i686 DLL included): the record's size is what a loaded
// document costs per element.
static_assert(sizeof(CMarkup::ElemPos) == 32, "ElemPos must stay eight 32-bit words");

// ---- PosArray ------------------------------------------------------------------------------

void CMarkup::PosArray::Release() {
    if (!segs)
        return;
    const int used = size > 0 ? SegsUsed() : 0;
    for (int s = 0; s < used; ++s)
        platform::freeBuffer(segs[s]);
    platform::freeBuffer(segs);
}

bool CMarkup::x_AllocPosArray(int newSize) {
    if (newSize == 0)
        newSize = freePos + freePos / 2;
    PosArray& pa = positions;
    if (pa.size >= newSize)
        return true;
    const int lastSeg = pa.size ? (pa.size - 1) >> PosArray::PA_SEGBITS : 0;
    int targetSeg = (newSize - 1) >> PosArray::PA_SEGBITS;
    // Grow by at most one segment per call so a full segment is never moved.
    if (targetSeg > lastSeg + 1) {
        targetSeg = lastSeg + 1;
        newSize = (lastSeg + 2) * PosArray::PA_SEGSIZE;
    }
    if (pa.segsCapacity <= targetSeg) {
        const int capacity = 2 * targetSeg + 4;
        ElemPos** table = static_cast<ElemPos**>(
            platform::allocBuffer(sizeof(ElemPos*) * static_cast<std::size_t>(capacity)));
        if (!table)
            throw std::bad_alloc();
        std::memset(table, 0, sizeof(ElemPos*) * static_cast<std::size_t>(capacity));
        if (pa.segs && pa.size) {
            std::memcpy(table, pa.segs, sizeof(ElemPos*) * pa.SegsUsed());
        }
        platform::freeBuffer(pa.segs);
        pa.segs = table;
        pa.segsCapacity = capacity;
    }
    const int lastCount = pa.size - lastSeg * PosArray::PA_SEGSIZE;  // records in segment L
    if (targetSeg > lastSeg && lastCount < PosArray::PA_SEGSIZE) {
        void* full = platform::resizeBuffer(pa.segs[lastSeg], sizeof(ElemPos) * PosArray::PA_SEGSIZE);
        if (!full)
            throw std::bad_alloc();
        pa.segs[lastSeg] = static_cast<ElemPos*>(full);
    }
    const int targetCount = newSize - targetSeg * PosArray::PA_SEGSIZE;
    if (targetSeg == lastSeg) {
        // The last, partial segment grows in place (or moves once).
        void* grown = platform::resizeBuffer(pa.segs[lastSeg], sizeof(ElemPos) * targetCount);
        if (!grown)
            throw std::bad_alloc();
        pa.segs[lastSeg] = static_cast<ElemPos*>(grown);
    } else {
        pa.segs[targetSeg] = static_cast<ElemPos*>(platform::allocBuffer(sizeof(ElemPos) * targetCount));
        if (!pa.segs[targetSeg])
            throw std::bad_alloc();
    }
    pa.size = newSize;
    return true;
}

// ---- construction and copy -----------------------------------------------------------------

CMarkup::CMarkup()
    : parentPos(0), mainPos(0), childPos(0), freePos(0), releasedPos(0), nodeType(0),
      nodeOffset(0), nodeLength(0), docFlags(0) {
    SetDoc(nullptr);
}

CMarkup::CMarkup(MCD_CSTR doc)
    : parentPos(0), mainPos(0), childPos(0), freePos(0), releasedPos(0), nodeType(0),
      nodeOffset(0), nodeLength(0), docFlags(0) {
    SetDoc(doc.pcsz);
}

CMarkup::CMarkup(int flags)
    : parentPos(0), mainPos(0), childPos(0), freePos(0), releasedPos(0), nodeType(0),
      nodeOffset(0), nodeLength(0), docFlags(0) {
    SetDoc(nullptr);
    docFlags = flags;
}

CMarkup::CMarkup(NoParse)
    : parentPos(0), mainPos(0), childPos(0), freePos(0), releasedPos(0), nodeType(0),
      nodeOffset(0), nodeLength(0), docFlags(0) {}

CMarkup::CMarkup(const CMarkup& other)
    : parentPos(0), mainPos(0), childPos(0), freePos(0), releasedPos(0), nodeType(0),
      nodeOffset(0), nodeLength(0), docFlags(0) {
    x_CopyFrom(other);
}

CMarkup::~CMarkup() {
    // Release and clear, so the member's own destructor finds nothing left to free.
    positions.RemoveAll();
    savedPositions.RemoveAll();
}

CMarkup& CMarkup::operator=(const CMarkup& other) {
    // Copy, then swap: running out of memory half-way leaves this document as it was.
    if (this != &other) {
        CMarkup copy(other);
        x_Swap(copy);
    }
    return *this;
}

void CMarkup::x_Swap(CMarkup& other) noexcept {
    std::swap(parentPos, other.parentPos);
    std::swap(mainPos, other.mainPos);
    std::swap(childPos, other.childPos);
    std::swap(freePos, other.freePos);
    std::swap(releasedPos, other.releasedPos);
    std::swap(nodeType, other.nodeType);
    std::swap(nodeOffset, other.nodeOffset);
    std::swap(nodeLength, other.nodeLength);
    std::swap(docFlags, other.docFlags);
    docText.swap(other.docText);
    resultText.swap(other.resultText);
    std::swap(savedPositions.table, other.savedPositions.table);
    std::swap(positions.segs, other.positions.segs);
    std::swap(positions.size, other.positions.size);
    std::swap(positions.segsCapacity, other.positions.segsCapacity);
}

// Fills a document that holds nothing yet; on bad_alloc whatever was allocated belongs to the
// members, whose destructors release it.
void CMarkup::x_CopyFrom(const CMarkup& other) {
    parentPos = other.parentPos;
    mainPos = other.mainPos;
    childPos = other.childPos;
    freePos = other.freePos;
    releasedPos = other.releasedPos;
    nodeType = other.nodeType;
    nodeOffset = other.nodeOffset;
    nodeLength = other.nodeLength;
    docText = other.docText;
    resultText = other.resultText;
    docFlags = other.docFlags;

    // Records: exactly as many as the source handed out (at least 8), full segments except
    // the last.
    int newSize = other.freePos < 8 ? 8 : other.freePos;
    const int segCount = ((newSize - 1) >> PosArray::PA_SEGBITS) + 1;
    positions.segs = static_cast<ElemPos**>(
        platform::allocBuffer(sizeof(ElemPos*) * static_cast<std::size_t>(segCount)));
    if (!positions.segs)
        throw std::bad_alloc();
    std::memset(positions.segs, 0, sizeof(ElemPos*) * static_cast<std::size_t>(segCount));
    positions.segsCapacity = segCount;
    positions.size = newSize;
    for (int s = 0; s < segCount; ++s) {
        const int count = s + 1 < segCount ? static_cast<int>(PosArray::PA_SEGSIZE)
                                           : newSize - s * PosArray::PA_SEGSIZE;
        positions.segs[s] = static_cast<ElemPos*>(platform::allocBuffer(sizeof(ElemPos) * count));
        if (!positions.segs[s])
            throw std::bad_alloc();
        // The source may hold fewer records than the copy (a fresh document has size 0).
        const int srcSize = other.positions.size;
        int avail = srcSize - s * PosArray::PA_SEGSIZE;
        if (avail > count)
            avail = count;
        if (avail > 0)
            std::memcpy(positions.segs[s], other.positions.segs[s], sizeof(ElemPos) * avail);
        if (avail < count)
            std::memset(positions.segs[s] + (avail > 0 ? avail : 0), 0,
                        sizeof(ElemPos) * (count - (avail > 0 ? avail : 0)));
    }

    // Saved positions: each bucket copied as exactly its used prefix.
    if (other.savedPositions.table) {
        savedPositions.AllocMapTable();
        for (int b = 0; b < SavedPosMap::SPM_SIZE; ++b) {
            const SavedPosEntry* src = other.savedPositions.table[b];
            if (!src)
                continue;
            int used = 0;
            while (src[used].entryFlags & SAVED_USED) {
                ++used;
                if (src[used - 1].entryFlags & SAVED_LAST)
                    break;
            }
            if (used == 0)
                continue;
            SavedPosEntry* copy = new SavedPosEntry[used];
            for (int i = 0; i < used; ++i) {
                copy[i] = src[i];
                copy[i].entryFlags &= ~SAVED_LAST;
            }
            copy[used - 1].entryFlags |= SAVED_LAST;
            savedPositions.table[b] = copy;
        }
    }
}

// ---- records and links ---------------------------------------------------------------------

int CMarkup::x_ReleasePos(int index) {
    ElemPos& e = ELEM(index);
    const int next = e.next;
    e.next = releasedPos;
    e.flags = ELEM_DELETED;
    releasedPos = index;
    return next;
}

int CMarkup::x_ReleaseSubDoc(int index) {
    int pos = index;
    for (;;) {
        while (ELEM(pos).child)
            pos = ELEM(pos).child;
        // Release upwards until a record with a next sibling is met.
        for (;;) {
            const int parent = ELEM(pos).parent;
            const int next = x_ReleasePos(pos);
            if (pos == index)
                return next;
            if (next) {
                pos = next;
                break;
            }
            pos = parent;
        }
    }
}

void CMarkup::x_LinkElem(int parentIndex, int afterIndex, int index) {
    ElemPos& e = ELEM(index);
    e.parent = parentIndex;
    if (afterIndex) {
        ElemPos& after = ELEM(afterIndex);
        e.flags &= ~ELEM_FIRST;
        e.next = after.next;
        if (e.next)
            ELEM(e.next).prev = index;
        else
            ELEM(ELEM(parentIndex).child).prev = index;
        after.next = index;
        e.prev = afterIndex;
    } else {
        e.flags |= ELEM_FIRST;
        ElemPos& parent = ELEM(parentIndex);
        if (parent.child) {
            ElemPos& first = ELEM(parent.child);
            e.next = parent.child;
            e.prev = first.prev;
            first.prev = index;
            first.flags &= ~ELEM_FIRST;
        } else {
            e.next = 0;
            e.prev = index;
        }
        parent.child = index;
    }
    if (parentIndex)
        e.SetLevel(ELEM(parentIndex).Level() + 1);
}

int CMarkup::x_UnlinkElem(int index) {
    ElemPos& e = ELEM(index);
    int result;
    if (e.flags & ELEM_FIRST) {
        ElemPos& parent = ELEM(e.parent);
        if (e.next) {
            ElemPos& next = ELEM(e.next);
            parent.child = e.next;
            next.prev = e.prev;
            next.flags |= ELEM_FIRST;
        } else {
            parent.child = 0;
        }
        result = 0;
    } else {
        ElemPos& prev = ELEM(e.prev);
        prev.next = e.next;
        if (e.next)
            ELEM(e.next).prev = e.prev;
        else
            ELEM(ELEM(e.parent).child).prev = e.prev;
        result = e.prev;
    }
    x_ReleaseSubDoc(index);
    return result;
}

// ---- text edits ----------------------------------------------------------------------------

void CMarkup::x_DocChange(int offset, int replaceCount, const std::u16string& insertText) {
    const std::size_t newLen = docText.size() - replaceCount + insertText.size();
    if (newLen > docText.capacity())
        docText.reserve(newLen + newLen / 2 + 128);
    docText.replace(offset, replaceCount, insertText);
}

void CMarkup::x_Adjust(int index, int shift, bool afterOnly) {
    if (!ELEM(index).StartTagLen())
        return;
    int top = ELEM(index).parent;
    bool first = true;
    int pos = index;
    for (;;) {
        // The next element in document order after the edit, or the nearest ancestor that
        // contains it (top).
        const ElemPos& cur = ELEM(pos);
        int next = 0;
        if (pos == top)
            top = cur.parent;
        else if (!(first && afterOnly))
            next = cur.child;
        if (!next) {
            next = cur.next;
            for (int up = pos; !next;) {
                up = ELEM(up).parent;
                if (up == top) {
                    next = top;
                    break;
                }
                next = ELEM(up).next;
            }
        }
        first = false;
        pos = next;
        ElemPos& e = ELEM(pos);
        if (pos == top)
            e.length += shift;
        else
            e.start += shift;
        if (!e.StartTagLen())
            break;
    }
}

void CMarkup::x_AdjustForNode(int parentIndex, int index, int shift) {
    if (index) {
        x_Adjust(index, shift, true);
        return;
    }
    const int child = ELEM(parentIndex).child;
    if (child) {
        ELEM(child).start += shift;
        x_Adjust(child, shift, false);
    } else {
        ELEM(parentIndex).length += shift;
        x_Adjust(parentIndex, shift, true);
    }
}

// ---- saved positions -----------------------------------------------------------------------

void CMarkup::SavedPosMap::AllocMapTable() {
    table = new SavedPosEntry*[SPM_SIZE];
    for (int i = 0; i < SPM_SIZE; ++i)
        table[i] = nullptr;
}

int CMarkup::SavedPosMap::Hash(const char16_t* name) {
    std::uint32_t sum = 0;
    for (; *name; ++name)
        sum += *name;
    return static_cast<int>(sum % SPM_SIZE);
}

void CMarkup::SavedPosMap::Release() {
    for (int i = 0; i < SPM_SIZE; ++i)
        delete[] table[i];
    delete[] table;
}

bool CMarkup::SavePos(MCD_CSTR posName) {
    const char16_t* name = posName.pcsz;
    if (!name)
        return false;
    SavedPosEntry entry;
    entry.name = name;
    if (childPos) {
        entry.pos = childPos;
        entry.entryFlags = SAVED_CHILD;
    } else if (mainPos) {
        entry.pos = mainPos;
        entry.entryFlags = SAVED_MAIN;
    } else {
        entry.pos = parentPos;
    }
    entry.entryFlags |= SAVED_USED;
    if (!savedPositions.table)
        savedPositions.AllocMapTable();
    SavedPosEntry*& bucket = savedPositions.table[SavedPosMap::Hash(name)];
    int slot = 0;
    if (!bucket) {
        bucket = new SavedPosEntry[2];
        bucket[1].entryFlags = SAVED_LAST;
    } else {
        for (slot = 0;; ++slot) {
            SavedPosEntry& s = bucket[slot];
            if (!(s.entryFlags & SAVED_USED) || s.name == name)
                break;
            if (s.entryFlags & SAVED_LAST) {
                // Full: grow to 2n + 12 entries and take the first new slot.
                const int n = slot;
                SavedPosEntry* grown = new SavedPosEntry[2 * n + 12];
                for (int i = 0; i <= n; ++i) {
                    grown[i] = bucket[i];
                    grown[i].entryFlags &= ~SAVED_LAST;
                }
                grown[2 * n + 11].entryFlags = SAVED_LAST;
                delete[] bucket;
                bucket = grown;
                slot = n + 1;
                break;
            }
        }
    }
    if (bucket[slot].entryFlags & SAVED_LAST)
        entry.entryFlags |= SAVED_LAST;
    bucket[slot] = entry;
    return true;
}

bool CMarkup::RestorePos(MCD_CSTR posName) {
    const char16_t* name = posName.pcsz;
    if (!name || !savedPositions.table)
        return false;
    const SavedPosEntry* bucket = savedPositions.table[SavedPosMap::Hash(name)];
    if (!bucket || !(bucket[0].entryFlags & SAVED_USED))
        return false;
    for (int slot = 0; bucket[slot].entryFlags & SAVED_USED; ++slot) {
        const SavedPosEntry& s = bucket[slot];
        if (s.name == name) {
            const int pos = s.pos;
            if (s.entryFlags & SAVED_CHILD) {
                const int parent = ELEM(pos).parent;
                x_SetPos(ELEM(parent).parent, parent, pos);
            } else if (s.entryFlags & SAVED_MAIN) {
                x_SetPos(ELEM(pos).parent, pos, 0);
            } else {
                x_SetPos(pos, 0, 0);
            }
            return true;
        }
        if (s.entryFlags & SAVED_LAST)
            break;
    }
    return false;
}

void CMarkup::x_CheckSavedPos() {
    if (!savedPositions.table)
        return;
    for (int b = 0; b < SavedPosMap::SPM_SIZE; ++b) {
        SavedPosEntry* bucket = savedPositions.table[b];
        if (!bucket)
            continue;
        int kept = 0;
        int slot = 0;
        for (;; ++slot) {
            SavedPosEntry& s = bucket[slot];
            if (!(s.entryFlags & SAVED_USED))
                break;
            if (!(ELEM(s.pos).flags & ELEM_DELETED)) {
                if (kept < slot) {
                    bucket[kept].name = s.name;
                    bucket[kept].pos = s.pos;
                    bucket[kept].entryFlags = s.entryFlags & ~SAVED_LAST;
                }
                ++kept;
            }
            if (s.entryFlags & SAVED_LAST)
                break;
        }
        // Free every slot from the new used count up to the end marker.
        int last = 0;
        while (!(bucket[last].entryFlags & SAVED_LAST))
            ++last;
        for (int i = kept; i <= last; ++i)
            bucket[i].entryFlags &= ~SAVED_USED;
    }
}
