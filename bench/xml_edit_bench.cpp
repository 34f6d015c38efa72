// Building and walking documents through the cursor API against pugixml's DOM: build 100,000
// elements with attributes and data and save them to a file; walk a large document reading
// one attribute per element. Besides, the tolerant parser's repair on its worst shape: n
// nested start tags followed by n end tags that match none of them.
#include "xml/xml.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kElements = 100000;

std::string tempFile(const char* name) {
    const char* t = std::getenv("TMPDIR");
    return std::string(t && *t ? t : "/tmp") + "/nxutil_xml_edit_bench_" + name + ".xml";
}

void nxutilBuildAndSave(benchmark::State& state) {
    const std::string path = tempFile("nx");
    const std::u16string wpath(path.begin(), path.end());
    for (auto _ : state) {
        CMarkup doc;
        doc.AddElem(u"items");
        for (int i = 0; i < kElements; ++i) {
            doc.AddChildElem(u"item", i % 3 ? nullptr : u"some data");
            doc.SetChildAttrib(u"id", i);
            doc.SetChildAttrib(u"name", u"widget");
        }
        benchmark::DoNotOptimize(doc.Save(wpath));
    }
    state.SetItemsProcessed(state.iterations() * kElements);
    std::remove(path.c_str());
}

void pugixmlBuildAndSave(benchmark::State& state) {
    const std::string path = tempFile("pugi");
    for (auto _ : state) {
        pugi::xml_document doc;
        pugi::xml_node items = doc.append_child("items");
        for (int i = 0; i < kElements; ++i) {
            pugi::xml_node item = items.append_child("item");
            if (i % 3 == 0)
                item.text().set("some data");
            item.append_attribute("id") = i;
            item.append_attribute("name") = "widget";
        }
        benchmark::DoNotOptimize(doc.save_file(path.c_str()));
    }
    state.SetItemsProcessed(state.iterations() * kElements);
    std::remove(path.c_str());
}

// A document of 500,000 elements, each with three attributes.
std::string bigDocument() {
    std::string s = "<root>\n";
    char line[128];
    for (int i = 0; i < 500000; ++i) {
        std::snprintf(line, sizeof line, "<e a=\"%d\" b=\"x\" id=\"%d\"/>\n", i, i * 2);
        s += line;
    }
    s += "</root>\n";
    return s;
}

const std::string& bigText() {
    static const std::string text = bigDocument();
    return text;
}

void nxutilWalk(benchmark::State& state) {
    const std::string& utf8 = bigText();
    std::u16string text(utf8.begin(), utf8.end());
    CMarkup doc{MCD_CSTR(text)};
    for (auto _ : state) {
        long sum = 0;
        doc.ResetPos();
        doc.FindElem();
        doc.IntoElem();
        while (doc.FindElem())
            sum += static_cast<long>(doc.GetAttrib(u"id").size());
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 500000);
}

void pugixmlWalk(benchmark::State& state) {
    pugi::xml_document doc;
    doc.load_buffer(bigText().data(), bigText().size());
    for (auto _ : state) {
        long sum = 0;
        for (pugi::xml_node e : doc.first_child().children())
            sum += static_cast<long>(std::char_traits<char>::length(e.attribute("id").value()));
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 500000);
}

// The bounds of the walk above, set by the interface: the cursor calls alone (FindElem over
// every element, no attribute read), and pugixml's walk paying what GetAttrib's answer costs,
// the value returned as a UTF-16 string by value.
void nxutilWalkCursorOnly(benchmark::State& state) {
    const std::string& utf8 = bigText();
    std::u16string text(utf8.begin(), utf8.end());
    CMarkup doc{MCD_CSTR(text)};
    for (auto _ : state) {
        long count = 0;
        doc.ResetPos();
        doc.FindElem();
        doc.IntoElem();
        while (doc.FindElem())
            ++count;
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(state.iterations() * 500000);
}

void pugixmlWalkStringByValue(benchmark::State& state) {
    pugi::xml_document doc;
    doc.load_buffer(bigText().data(), bigText().size());
    for (auto _ : state) {
        long sum = 0;
        for (pugi::xml_node e : doc.first_child().children()) {
            const char* v = e.attribute("id").value();
            const std::u16string value(v, v + std::char_traits<char>::length(v));
            sum += static_cast<long>(value.size());
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 500000);
}

// '<a>' * n + '</b>' * n: every end tag is stray under n open elements, and at the end all n
// are unended and flattened. Was quadratic (36 s at n = 100,000).
void nxutilRepairStrayEndTags(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::u16string text;
    for (int i = 0; i < n; ++i)
        text += u"<a>";
    for (int i = 0; i < n; ++i)
        text += u"</b>";
    for (auto _ : state) {
        CMarkup doc;
        benchmark::DoNotOptimize(doc.SetDoc(text));
    }
    state.SetItemsProcessed(state.iterations() * 2 * n);
}

}  // namespace

BENCHMARK(nxutilRepairStrayEndTags)->Arg(40000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(nxutilBuildAndSave)->Unit(benchmark::kMillisecond);
BENCHMARK(pugixmlBuildAndSave)->Unit(benchmark::kMillisecond);
BENCHMARK(nxutilWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(pugixmlWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(nxutilWalkCursorOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(pugixmlWalkStringByValue)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
