// Load of real XML files: the corpus gathered by bench/xml_corpus.sh (configuration files,
// schemas, XSLT, SVG icons, the MIME database, test data of other projects) split into three
// size bands (under 4 KB, 4 to 64 KB, over 64 KB). One iteration loads every file of a band:
// CMarkup::Load against pugixml's load_file, tinyxml2's LoadFile and libxml2's xmlReadFile;
// and from memory, SetDoc of the already converted UTF-16 text against pugixml's load_buffer
// of the UTF-8 bytes, and the UTF-8 conversion that Load runs, alone. The counter heap_x is the heap held by every document of the band at
// once over the band's bytes.
//
// Before measuring, every file that is valid UTF-8 is loaded and saved back, and must come
// out byte for byte; the program exits with status 1 when one does not.
// usage: xml_corpus_bench [--corpus=DIR] [benchmark options]   (default DIR: build/xml_corpus)
#include "xml/xml.h"
#include "xml_heap_hook.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct File {
    std::string path;
    std::u16string wpath;
    std::string bytes;
    std::u16string text;  // the UTF-16 text Load makes of the bytes
};

struct Band {
    const char* name;
    long long below;  // files under this many bytes (and at or over the previous band's)
    std::vector<File> files;
    long long bytes = 0;
};

Band bands[] = {{"under_4k", 4 * 1024, {}}, {"4k_to_64k", 64 * 1024, {}}, {"over_64k", 1LL << 62, {}}};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Strict UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool validUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned c = *p;
        int more;
        unsigned cp;
        if (c < 0x80) {
            ++p;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= more)
            return false;
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += more + 1;
    }
    return true;
}

// Loads and saves back every valid UTF-8 file; returns the number that did not come out whole.
int checkRoundTrips(const std::string& dir, int* checked) {
    const std::string out = dir + "/roundtrip.xml";
    const std::u16string wout = widen(out);
    int bad = 0;
    *checked = 0;
    for (Band& band : bands) {
        for (File& f : band.files) {
            if (!validUtf8(f.bytes))
                continue;
            ++*checked;
            CMarkup doc;
            doc.Load(f.wpath);
            if (!doc.Save(wout) || readAll(out) != f.bytes) {
                std::fprintf(stderr, "not saved back byte for byte: %s\n", f.path.c_str());
                ++bad;
            }
        }
    }
    std::remove(out.c_str());
    return bad;
}

void finish(benchmark::State& state, const Band& band, long long heap) {
    state.SetBytesProcessed(state.iterations() * band.bytes);
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(band.files.size()));
    state.counters["heap_x"] = static_cast<double>(heap) / static_cast<double>(band.bytes);
}

// Runs load(file, document) over the band in each iteration, then keeps every document of the
// band at once to measure the heap they hold.
template <class Doc, class LoadFn>
void run(benchmark::State& state, const Band& band, LoadFn load) {
    for (auto _ : state) {
        for (const File& f : band.files) {
            Doc doc;
            benchmark::DoNotOptimize(load(f, doc));
        }
    }
    const long long before = xmlbench::heapInUse();
    {
        std::vector<std::unique_ptr<Doc>> docs;
        docs.reserve(band.files.size());
        const long long reserved = xmlbench::heapInUse() - before;
        for (const File& f : band.files) {
            docs.emplace_back(new Doc);
            load(f, *docs.back());
        }
        finish(state, band, xmlbench::heapInUse() - before - reserved);
    }
}

struct LibxmlDoc {
    xmlDocPtr doc = nullptr;
    ~LibxmlDoc() { xmlFreeDoc(doc); }
};

void nxutilLoad(benchmark::State& state, const Band* band) {
    run<CMarkup>(state, *band, [](const File& f, CMarkup& d) { return d.Load(f.wpath); });
}

void nxutilSetDoc(benchmark::State& state, const Band* band) {
    run<CMarkup>(state, *band, [](const File& f, CMarkup& d) { return d.SetDoc(f.text); });
}

// The conversion Load runs on the file's bytes, alone: one pass into a string of as many units
// as the file has bytes. Load's time less this one is what the conversion does not explain.
void nxutilConvert(benchmark::State& state, const Band* band) {
    for (auto _ : state) {
        for (const File& f : band->files) {
            std::u16string text(f.bytes.size(), u'\0');
            benchmark::DoNotOptimize(
                CMarkup::UTF8To16(&text[0], f.bytes.data(), static_cast<int>(f.bytes.size())));
        }
    }
    state.SetBytesProcessed(state.iterations() * band->bytes);
}

void pugixmlLoad(benchmark::State& state, const Band* band) {
    run<pugi::xml_document>(state, *band, [](const File& f, pugi::xml_document& d) {
        return static_cast<bool>(d.load_file(f.path.c_str()));
    });
}

void pugixmlBuffer(benchmark::State& state, const Band* band) {
    run<pugi::xml_document>(state, *band, [](const File& f, pugi::xml_document& d) {
        return static_cast<bool>(d.load_buffer(f.bytes.data(), f.bytes.size()));
    });
}

void tinyxml2Load(benchmark::State& state, const Band* band) {
    run<tinyxml2::XMLDocument>(state, *band, [](const File& f, tinyxml2::XMLDocument& d) {
        return d.LoadFile(f.path.c_str()) == tinyxml2::XML_SUCCESS;
    });
}

void libxml2Load(benchmark::State& state, const Band* band) {
    run<LibxmlDoc>(state, *band, [](const File& f, LibxmlDoc& d) {
        d.doc = xmlReadFile(f.path.c_str(), nullptr,
                            XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        return d.doc != nullptr;
    });
}

void quiet(void*, const char*, ...) {}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = "build/xml_corpus";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.compare(0, 9, "--corpus=") != 0)
            continue;
        dir = arg.substr(9);
        for (int j = i; j + 1 < argc; ++j)
            argv[j] = argv[j + 1];
        --argc;
        --i;
    }
    std::ifstream list(dir + "/files.txt");
    std::string line;
    int count = 0;
    while (std::getline(list, line)) {
        const std::string name = line.substr(0, line.find('\t'));
        File f;
        f.path = dir + "/files/" + name;
        f.wpath = widen(f.path);
        f.bytes = readAll(f.path);
        if (f.bytes.empty())
            continue;
        f.text.resize(static_cast<std::size_t>(
            CMarkup::UTF8To16(nullptr, f.bytes.data(), static_cast<int>(f.bytes.size()))));
        if (!f.text.empty())
            CMarkup::UTF8To16(&f.text[0], f.bytes.data(), static_cast<int>(f.bytes.size()));
        for (Band& band : bands) {
            if (static_cast<long long>(f.bytes.size()) < band.below) {
                band.bytes += static_cast<long long>(f.bytes.size());
                band.files.push_back(std::move(f));
                break;
            }
        }
        ++count;
    }
    if (count == 0) {
        std::fprintf(stderr, "no corpus in %s: run bench/xml_corpus.sh first\n", dir.c_str());
        return 2;
    }
    for (const Band& band : bands)
        std::printf("band %s: %zu files, %lld bytes\n", band.name, band.files.size(), band.bytes);
    int checked = 0;
    const int bad = checkRoundTrips(dir, &checked);
    std::printf("saved back byte for byte: %d of %d valid UTF-8 files\n", checked - bad, checked);
    if (bad)
        return 1;

    xmlInitParser();
    // Files that libxml2 rejects (a few are not UTF-8) would print an error on every load.
    xmlSetGenericErrorFunc(nullptr, quiet);
    for (const Band& band : bands) {
        const std::string load = std::string("load/") + band.name + "/";
        const std::string memory = std::string("memory/") + band.name + "/";
        benchmark::RegisterBenchmark((load + "nxutil").c_str(), nxutilLoad, &band)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((load + "pugixml").c_str(), pugixmlLoad, &band)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((load + "tinyxml2").c_str(), tinyxml2Load, &band)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((load + "libxml2").c_str(), libxml2Load, &band)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((memory + "nxutil_SetDoc").c_str(), nxutilSetDoc, &band)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((memory + "pugixml_load_buffer").c_str(), pugixmlBuffer, &band)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((memory + "nxutil_UTF8To16").c_str(), nxutilConvert, &band)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xmlCleanupParser();
    return 0;
}
