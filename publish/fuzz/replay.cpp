// Replays inputs through the fuzz target without libFuzzer: each file named,
// or each file in each folder named, once. The ordinary suite runs the
// committed corpus this way, under the default compiler and the sanitizer
// build, so that a change that breaks an input found by fuzzing fails there.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

void replay(const std::filesystem::path &file)
{
    std::ifstream stream(file, std::ios::binary);
    const std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(stream),
                                          std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

}  // namespace

int main(int argc, char **argv)
{
    std::size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path named = argv[i];
        if (!std::filesystem::is_directory(named)) {
            replay(named);
            ++inputs;
            continue;
        }
        for (const auto &entry : std::filesystem::directory_iterator(named)) {
            replay(entry.path());
            ++inputs;
        }
    }
    std::printf("replayed %zu inputs\n", inputs);
    return inputs > 0 ? 0 : 1;
}
