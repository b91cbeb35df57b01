// Replays a fuzz target's corpus: runs LLVMFuzzerTestOneInput over every
// file of the folders (or files) named on the command line, so the seeds and
// every case a fuzzing run found stay regression tests in the ordinary and
// the sanitizer builds.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputsOf(const std::filesystem::path& where) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(where)) {
        for (const auto& entry : std::filesystem::directory_iterator(where)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
    } else if (std::filesystem::is_regular_file(where)) {
        files.push_back(where);
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& file : inputsOf(argv[i])) {
            // Exactly the input's size on the heap, so a sanitizer sees any
            // read past its end.
            const auto size = static_cast<std::size_t>(std::filesystem::file_size(file));
            const auto bytes = std::make_unique<std::uint8_t[]>(size);
            std::ifstream in(file, std::ios::binary);
            if (!in.read(reinterpret_cast<char*>(bytes.get()),
                         static_cast<std::streamsize>(size))) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            std::fprintf(stderr, "%s\n", file.filename().c_str());
            LLVMFuzzerTestOneInput(bytes.get(), size);
            ++count;
        }
    }
    std::fprintf(stderr, "%zu inputs replayed\n", count);
    // An empty corpus would test nothing.
    return count > 0 ? 0 : 1;
}
