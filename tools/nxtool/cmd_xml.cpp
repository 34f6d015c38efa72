// nxtool xml: loads a document and shows its well-formedness, first problem and element tree;
// query and edit verbs address elements by path ("/r/item[2]"). The demo's XML screen.
#include "command.h"
#include "xml/xml.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Reads the element index for the tree listing.
class TreeView : public CMarkup {
public:
    // Prints elements in document order, indented by depth, up to maxLines lines (0: all).
    void print(int maxDepth, long maxLines) const {
        long lines = 0;
        long elements = 0;
        int deepest = 0;
        int pos = ELEM(0).child;
        int depth = 0;
        std::string line;
        while (pos) {
            const ElemPos& e = ELEM(pos);
            ++elements;
            if (depth > deepest)
                deepest = depth;
            if (depth <= maxDepth && (maxLines == 0 || lines < maxLines)) {
                line.assign(static_cast<std::size_t>(depth) * 2, ' ');
                line += nxtool::utf8(x_GetTagName(pos));
                line += "  @" + std::to_string(e.start) + " +" + std::to_string(e.length);
                if (e.flags & ELEM_UNENDED)
                    line += "  (no end tag)";
                if (e.flags & ELEM_HAS_LONE_END)
                    line += "  (stray end tag inside)";
                line += '\n';
                std::fwrite(line.data(), 1, line.size(), stdout);
                ++lines;
            }
            if (e.child) {
                pos = e.child;
                ++depth;
                continue;
            }
            while (pos && !ELEM(pos).next) {
                pos = ELEM(pos).parent;
                --depth;
            }
            if (pos)
                pos = ELEM(pos).next;
        }
        if (lines < elements)
            std::printf("... %ld more elements not shown (--max 0 --depth 1000 shows all)\n",
                        elements - lines);
        std::printf("%ld elements, deepest level %d\n", elements, deepest);
    }
};

// Moves to the element named by a path of "/name" or "/name[n]" steps; true when found.
bool goTo(CMarkup& doc, const std::string& path) {
    doc.ResetPos();
    std::size_t at = 0;
    bool first = true;
    while (at < path.size()) {
        if (path[at] == '/')
            ++at;
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        std::string step = path.substr(at, end - at);
        at = end;
        if (step.empty())
            continue;
        long nth = 1;
        const std::size_t bracket = step.find('[');
        if (bracket != std::string::npos) {
            nth = std::strtol(step.c_str() + bracket + 1, nullptr, 10);
            step.resize(bracket);
        }
        if (!first && !doc.IntoElem())
            return false;
        first = false;
        const std::u16string name = nxtool::utf16(step);
        for (long i = 0; i < nth; ++i)
            if (!doc.FindElem(name))
                return false;
    }
    return !first;
}

bool load(CMarkup& doc, const std::string& file, bool quiet) {
    const bool wellFormed = doc.Load(nxtool::utf16(file));
    if (doc.GetDoc().empty() && !wellFormed) {
        std::fprintf(stderr, "nxtool xml: %s: %s\n", file.c_str(), nxtool::utf8(doc.GetError()).c_str());
        return false;
    }
    if (!quiet && !wellFormed)
        std::fprintf(stderr, "warning: not well-formed: %s\n", nxtool::utf8(doc.GetError()).c_str());
    return true;
}

int show(const std::vector<std::string>& args) {
    std::string file;
    int maxDepth = 3;
    long maxLines = 200;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--depth" && i + 1 < args.size())
            maxDepth = std::atoi(args[++i].c_str());
        else if (args[i] == "--max" && i + 1 < args.size())
            maxLines = std::atol(args[++i].c_str());
        else
            file = args[i];
    }
    TreeView doc;
    const auto t0 = std::chrono::steady_clock::now();
    const bool wellFormed = doc.Load(nxtool::utf16(file));
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (doc.GetDoc().empty() && !wellFormed) {
        std::fprintf(stderr, "nxtool xml: %s: %s\n", file.c_str(), nxtool::utf8(doc.GetError()).c_str());
        return 1;
    }
    std::printf("%s: %zu UTF-16 units, loaded and parsed in %.1f ms\n", file.c_str(),
                doc.GetDoc().size(), ms);
    std::printf("well-formed: %s\n", wellFormed ? "yes" : "no");
    std::printf("report: %s\n", nxtool::utf8(doc.GetError()).c_str());
    doc.print(maxDepth, maxLines);
    return wellFormed ? 0 : 2;
}

int saveTo(CMarkup& doc, const std::string& out) {
    if (!doc.Save(nxtool::utf16(out))) {
        std::fprintf(stderr, "nxtool xml: %s: %s\n", out.c_str(), nxtool::utf8(doc.GetError()).c_str());
        return 1;
    }
    return 0;
}

int runXml(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fprintf(stderr, "usage: nxtool xml FILE | get|set|add|remove ... (see --help)\n");
        return 1;
    }
    const std::string verb = args[0];
    if (verb != "get" && verb != "set" && verb != "add" && verb != "remove")
        return show(args);
    if (args.size() < 3) {
        std::fprintf(stderr, "nxtool xml %s: FILE and PATH are required\n", verb.c_str());
        return 1;
    }
    CMarkup doc;
    if (!load(doc, args[1], verb == "get"))
        return 1;
    if (!goTo(doc, args[2])) {
        std::fprintf(stderr, "nxtool xml: no element at %s\n", args[2].c_str());
        return 1;
    }
    // Output file: "-o OUT" anywhere after the path, else the input file.
    std::string out = args[1];
    std::vector<std::string> rest;
    for (std::size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size())
            out = args[++i];
        else
            rest.push_back(args[i]);
    }
    if (verb == "get") {
        const std::u16string value = rest.empty() ? doc.GetData() : doc.GetAttrib(nxtool::utf16(rest[0]));
        std::printf("%s\n", nxtool::utf8(value).c_str());
        return 0;
    }
    bool ok = false;
    if (verb == "set" && rest.size() == 3 && rest[0] == "--attr")
        ok = doc.SetAttrib(nxtool::utf16(rest[1]), nxtool::utf16(rest[2]));
    else if (verb == "set" && rest.size() == 2 && rest[0] == "--data")
        ok = doc.SetData(nxtool::utf16(rest[1]));
    else if (verb == "add" && (rest.size() == 1 || rest.size() == 2))
        ok = doc.AddChildElem(nxtool::utf16(rest[0]), rest.size() == 2 ? nxtool::utf16(rest[1]) : std::u16string());
    else if (verb == "remove" && rest.empty())
        ok = doc.RemoveElem();
    if (!ok) {
        std::fprintf(stderr, "nxtool xml %s: not done (check the arguments; data cannot be set on "
                             "an element with child elements)\n", verb.c_str());
        return 1;
    }
    return saveTo(doc, out);
}

const char16_t kSample[] =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    u"<capture>\r\n"
    u"<source kind=\"game\" fps=\"60\">Caf\u00e9 &amp; Racing</source>\r\n"
    u"<encoder codec=\"h264\"><bitrate>6000</bitrate><!-- kbit/s --></encoder>\r\n"
    u"<output path=\"C:\\Videos\"/>\r\n"
    u"</capture>\r\n";

int demoXml() {
    CMarkup doc{MCD_CSTR(kSample)};
    std::printf("sample parsed: well-formed %s, encoding declared \"%s\"\n",
                doc.IsWellFormed() ? "yes" : "no",
                nxtool::utf8(CMarkup::GetDeclaredEncoding(kSample)).c_str());
    doc.FindElem(u"capture");
    doc.IntoElem();
    doc.FindElem(u"source");
    std::printf("source: \"%s\" at %s fps\n", nxtool::utf8(doc.GetData()).c_str(),
                nxtool::utf8(doc.GetAttrib(u"fps")).c_str());
    doc.FindElem(u"encoder");
    doc.FindChildElem(u"bitrate");
    std::printf("encoder %s bitrate %s\n", nxtool::utf8(doc.GetAttrib(u"codec")).c_str(),
                nxtool::utf8(doc.GetChildData()).c_str());
    doc.SetChildData(8000);
    doc.SetAttrib(u"preset", u"fast \"hq\"");
    doc.AddChildElem(u"keyint", 120);
    doc.ResetMainPos();
    doc.FindElem(u"output");
    doc.RemoveElem();
    std::printf("after setting the bitrate, adding a preset and a child, removing output:\n%s",
                nxtool::utf8(doc.GetDoc()).c_str());
    CMarkup broken(MCD_CSTR(u"<a><b></a>"));
    std::printf("a damaged text <a><b></a>: %s\n", nxtool::utf8(broken.GetError()).c_str());
    return 0;
}

}  // namespace

NXTOOL_COMMAND("xml", "load an XML file: well-formedness, first problem, element tree; get/set/add/remove",
               "usage: nxtool xml FILE [--depth N] [--max N]\n"
               "       nxtool xml get FILE PATH [ATTRIBUTE]\n"
               "       nxtool xml set FILE PATH (--attr NAME VALUE | --data VALUE) [-o OUT]\n"
               "       nxtool xml add FILE PATH NAME [DATA] [-o OUT]\n"
               "       nxtool xml remove FILE PATH [-o OUT]\n\n"
               "The first form loads FILE (UTF-8), prints whether it is well-formed, the load\n"
               "report with the first problem found, and the element tree with each element's\n"
               "offset and length in UTF-16 units (down to --depth, default 3; at most --max\n"
               "lines, default 200, 0 for all). PATH names an element by steps such as\n"
               "/root/item[2] (the second item). get prints the element's data or the value of\n"
               "an attribute; set, add (a child element) and remove save the result to OUT, or\n"
               "back to FILE. Exit code 2 when FILE is not well-formed.",
               runXml);
NXTOOL_DEMO(30, "xml", demoXml);
