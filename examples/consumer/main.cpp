// Uses the installed library the way a host does: pool blocks, a shared string, an XML
// document. Built by CI against the installed tree, once through the CMake package and once
// through pkg-config.
#include "nxutil.h"

#include <cstdio>

int main() {
    void* block = mp_alloc(100);
    const int blockSize = mp_size(block);
    mp_free(block);

    CMarkup xml;
    xml.SetDoc(u"<capture><source name=\"game\"/></capture>");
    const bool wellFormed = xml.IsWellFormed();

    std::printf("pool block: %d bytes; xml well-formed: %s\n", blockSize, wellFormed ? "yes" : "no");
    return blockSize == 128 && wellFormed ? 0 : 1;
}
