# Load of a corpus of real XML files (gathered by bench/xml_corpus.sh from the installed Debian
# packages) against pugixml, tinyxml2 and libxml2, per file size band. Linux-only: it uses the
# heap hook of the XML benchmarks.
if(NOT WIN32)
  find_package(pugixml CONFIG REQUIRED)
  find_package(tinyxml2 CONFIG REQUIRED)
  find_package(LibXml2 REQUIRED)
  nx_add_bench(xml_corpus_bench SOURCES xml_corpus_bench.cpp xml_heap_hook.cpp
    LIBS pugixml::pugixml tinyxml2::tinyxml2 LibXml2::LibXml2)
endif()
