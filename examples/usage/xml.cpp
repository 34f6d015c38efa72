// Usage: parse, walk, edit and print an XML document.
#include "xml/xml.h"

#include <cstdio>
#include <string>

int example_xml() {
    CMarkup xml;
    xml.SetDoc(u"<config><encoder codec=\"h264\" bitrate=\"6000\"/></config>");
    if (!xml.FindElem(u"config") || !xml.IntoElem() || !xml.FindElem(u"encoder"))
        return 1;
    const std::u16string codec = xml.GetAttrib(u"codec");
    xml.SetAttrib(u"bitrate", 8000);
    xml.AddElem(u"output", u"record.mp4");
    std::printf("codec %s, %zu units of text after the edit\n",
                std::string(codec.begin(), codec.end()).c_str(), xml.GetDoc().size());
    return codec == u"h264" ? 0 : 1;
}
