// Runs a fuzz target over files or folders named on the command line, without libFuzzer.
// Exit status 0 when every input ran; a crash ends the process like it would under the fuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int runFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A heap copy of exactly the input's size, so a sanitizer build sees reads past its end.
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int failures = 0;
    long inputs = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "missing %s\n", argv[i]);
            ++failures;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            failures += runFile(argv[i]);
            ++inputs;
            continue;
        }
        DIR* dir = opendir(argv[i]);
        if (!dir) {
            ++failures;
            continue;
        }
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            failures += runFile(std::string(argv[i]) + "/" + name);
            ++inputs;
        }
        closedir(dir);
    }
    std::printf("%ld inputs replayed\n", inputs);
    return failures == 0 && inputs > 0 ? 0 : 1;
}
