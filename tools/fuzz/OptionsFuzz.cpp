// Fuzzes the command-line parser: the input is split at NUL bytes into words
// (the first byte chooses POSIXLY_CORRECT), and the parser must read any
// argument vector without crashing, overflowing or reading past its words.
#include "host/Options.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static std::FILE* sink = std::fopen("/dev/null", "w");
    if (size == 0)
        return 0;
    const bool posixlyCorrect = data[0] & 1;
    std::vector<std::string> words{"showplayer"};
    std::string word;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    words.push_back(word);
    // Each word in its own allocation, so reading past one is caught.
    std::vector<char*> argv;
    for (const std::string& w : words) {
        char* copy = new char[w.size() + 1];
        std::copy(w.begin(), w.end(), copy);
        copy[w.size()] = '\0';
        argv.push_back(copy);
    }
    argv.push_back(nullptr);
    const host::Settings s = host::ParseOptions(static_cast<int>(words.size()), argv.data(), posixlyCorrect, sink);
    (void)s;  // sanitizers watch the parsing itself
    for (char* copy : argv)
        delete[] copy;
    return 0;
}
