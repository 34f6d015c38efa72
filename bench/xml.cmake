# XML load-and-parse and edit benchmarks against pugixml, tinyxml2, libxml2 and expat (Debian:
# libpugixml-dev, libtinyxml2-dev, libxml2-dev, libexpat1-dev). The heap hook wraps glibc's
# allocator, so these programs are Linux-only. The edit benchmark measures no heap and goes
# without the hook, whose locked counter would tax every allocation.
if(NOT WIN32)
  find_package(pugixml CONFIG REQUIRED)
  find_package(tinyxml2 CONFIG REQUIRED)
  find_package(EXPAT REQUIRED)
  find_package(LibXml2 REQUIRED)
  nx_add_bench(xml_bench SOURCES xml_bench.cpp xml_heap_hook.cpp
    LIBS pugixml::pugixml tinyxml2::tinyxml2 EXPAT::EXPAT LibXml2::LibXml2)
  nx_add_bench(xml_edit_bench SOURCES xml_edit_bench.cpp
    LIBS pugixml::pugixml)
endif()
