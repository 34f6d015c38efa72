// Runs every usage example; the docs pages quote these files. Built and run by the test suite,
// so an example that stops compiling or working is caught at once.
#include <cstdio>
#include <string>

int example_memory();
int example_text();
int example_xml();
int example_log(const char16_t* path);
int example_signals();
int example_pubfunc();

int main(int argc, char** argv) {
    // The log example writes to the folder given on the command line (the build tree in tests).
    std::string folder = argc > 1 ? argv[1] : ".";
    std::u16string logPath(folder.begin(), folder.end());
    logPath += u"/usage-example.log";
    const int failures = example_memory() + example_text() + example_xml() +
                         example_log(logPath.c_str()) + example_signals() + example_pubfunc();
    std::printf("%s\n", failures == 0 ? "all usage examples ran" : "a usage example failed");
    return failures == 0 ? 0 : 1;
}
