// Load-and-parse of UTF-8 files: CMarkup::Load against pugixml, tinyxml2, libxml2 (DOM) and
// expat (streaming, no document), on two generated documents of about 20 MB: many small
// elements with attributes, and mixed content with comments, CDATA sections, references and
// non-ASCII text. Besides the time, each DOM benchmark reports the heap held by one loaded
// document as a multiple of the file size (counter heap_x). Rates are per CPU second.
#include "xml/xml.h"
#include "xml_heap_hook.h"

#include <benchmark/benchmark.h>
#include <expat.h>
#include <libxml/parser.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct Sample {
    std::string path;
    long long bytes = 0;
};

std::string tempDir() {
    const char* t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

// About 20 MB of <row .../> elements with five attributes each.
std::string makeSmallElements() {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<table>\n";
    char line[200];
    for (long i = 0; s.size() < 20 * 1000 * 1000; ++i) {
        std::snprintf(line, sizeof line,
                      "<row id=\"%ld\" name=\"item-%ld\" qty=\"%ld\" price=\"%ld.25\" "
                      "flag=\"%s\"/>\n",
                      i, i * 7, i % 100, i % 1000, (i & 1) ? "true" : "false");
        s += line;
    }
    s += "</table>\n";
    return s;
}

// About 20 MB of sections with paragraphs, inline markup, comments, CDATA, entity and
// character references and non-ASCII text.
std::string makeMixedContent() {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<doc>\n";
    char block[800];
    for (long i = 0; s.size() < 20 * 1000 * 1000; ++i) {
        std::snprintf(block, sizeof block,
                      "<section id=\"s%ld\" lang=\"fr\">\n"
                      "  <para>Caf\xC3\xA9 cr\xC3\xA8me &amp; cr\xC3\xAApes, \xE4\xB8\xAD\xE6\x96\x87"
                      " &lt;%ld&gt; &#x263A; &quot;quoted&quot; text of paragraph %ld.</para>\n"
                      "  <!-- comment number %ld -->\n"
                      "  <code><![CDATA[if (a < b && c > d) { run(%ld); }]]></code>\n"
                      "  <para>More <b>bold</b> and <i>italic</i> words \xF0\x9F\x98\x80 and "
                      "numbers %ld.</para>\n"
                      "</section>\n",
                      i, i, i, i, i, i * 3);
        s += block;
    }
    s += "</doc>\n";
    return s;
}

Sample writeSample(const char* name, const std::string& text) {
    Sample s;
    s.path = tempDir() + "/nxutil_xml_bench_" + name + ".xml";
    std::FILE* f = std::fopen(s.path.c_str(), "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
        std::fprintf(stderr, "cannot write %s\n", s.path.c_str());
        std::exit(1);
    }
    std::fclose(f);
    s.bytes = static_cast<long long>(text.size());
    return s;
}

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void finish(benchmark::State& state, const Sample& sample, long long heap) {
    state.SetBytesProcessed(state.iterations() * sample.bytes);
    state.counters["heap_x"] = static_cast<double>(heap) / static_cast<double>(sample.bytes);
}

void nxutilLoad(benchmark::State& state, const Sample* sample) {
    const std::u16string path = widen(sample->path);
    for (auto _ : state) {
        CMarkup doc;
        benchmark::DoNotOptimize(doc.Load(path));
    }
    const long long before = xmlbench::heapInUse();
    CMarkup doc;
    if (!doc.Load(path))
        state.SkipWithError("not well-formed");
    finish(state, *sample, xmlbench::heapInUse() - before);
}

void pugixmlLoad(benchmark::State& state, const Sample* sample) {
    for (auto _ : state) {
        pugi::xml_document doc;
        benchmark::DoNotOptimize(doc.load_file(sample->path.c_str()));
    }
    const long long before = xmlbench::heapInUse();
    pugi::xml_document doc;
    if (!doc.load_file(sample->path.c_str()))
        state.SkipWithError("load failed");
    finish(state, *sample, xmlbench::heapInUse() - before);
}

void tinyxml2Load(benchmark::State& state, const Sample* sample) {
    for (auto _ : state) {
        tinyxml2::XMLDocument doc;
        benchmark::DoNotOptimize(doc.LoadFile(sample->path.c_str()));
    }
    const long long before = xmlbench::heapInUse();
    {
        auto doc = std::make_unique<tinyxml2::XMLDocument>();
        if (doc->LoadFile(sample->path.c_str()) != tinyxml2::XML_SUCCESS)
            state.SkipWithError("load failed");
        finish(state, *sample, xmlbench::heapInUse() - before);
    }
}

void libxml2Load(benchmark::State& state, const Sample* sample) {
    for (auto _ : state) {
        xmlDocPtr doc = xmlReadFile(sample->path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
    }
    const long long before = xmlbench::heapInUse();
    xmlDocPtr doc = xmlReadFile(sample->path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
    if (!doc)
        state.SkipWithError("load failed");
    finish(state, *sample, xmlbench::heapInUse() - before);
    xmlFreeDoc(doc);
}

// Streaming: the file is read into memory and parsed with element and text handlers; no
// document is built, so there is no heap figure.
void expatParse(benchmark::State& state, const Sample* sample) {
    for (auto _ : state) {
        std::FILE* f = std::fopen(sample->path.c_str(), "rb");
        std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(sample->bytes)]);
        const std::size_t got = std::fread(buffer.get(), 1, static_cast<std::size_t>(sample->bytes), f);
        std::fclose(f);
        long elements = 0;
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetUserData(parser, &elements);
        XML_SetStartElementHandler(parser, [](void* data, const XML_Char*, const XML_Char**) {
            ++*static_cast<long*>(data);
        });
        XML_SetCharacterDataHandler(parser, [](void*, const XML_Char*, int) {});
        if (XML_Parse(parser, buffer.get(), static_cast<int>(got), 1) != XML_STATUS_OK)
            state.SkipWithError("parse failed");
        XML_ParserFree(parser);
        benchmark::DoNotOptimize(elements);
    }
    state.SetBytesProcessed(state.iterations() * sample->bytes);
}

}  // namespace

int main(int argc, char** argv) {
    // Every library gets the same heap conditions, chosen on the command line:
    //   --memory=fresh (default): blocks of 1 MiB and more are always mapped fresh, as on the
    //     first load in a process, so every load pays for touching new pages;
    //   --memory=reused: blocks up to 256 MiB come from the main arena and freed memory is
    //     kept, so repeated loads reuse pages that are already mapped.
    // Without either, glibc's dynamic mmap threshold would favour whichever library's blocks
    // stay under 32 MB once an earlier run has freed a large block.
    bool reused = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg != "--memory=reused" && arg != "--memory=fresh")
            continue;
        reused = arg == "--memory=reused";
        for (int j = i; j + 1 < argc; ++j)
            argv[j] = argv[j + 1];
        --argc;
        --i;
    }
    if (reused) {
        mallopt(M_MMAP_THRESHOLD, 256 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    } else {
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
    }
    static Sample small = writeSample("small_elements", makeSmallElements());
    static Sample mixed = writeSample("mixed_content", makeMixedContent());
    xmlInitParser();
    const struct {
        const char* name;
        const Sample* sample;
    } samples[] = {{"small_elements", &small}, {"mixed_content", &mixed}};
    for (const auto& s : samples) {
        const std::string base = std::string("load/") + s.name + "/";
        benchmark::RegisterBenchmark((base + "nxutil").c_str(), nxutilLoad, s.sample)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "pugixml").c_str(), pugixmlLoad, s.sample)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "tinyxml2").c_str(), tinyxml2Load, s.sample)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "libxml2").c_str(), libxml2Load, s.sample)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "expat_stream").c_str(), expatParse, s.sample)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xmlCleanupParser();
    std::remove(small.path.c_str());
    std::remove(mixed.path.c_str());
    return 0;
}
