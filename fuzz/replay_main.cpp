// Runs a fuzz entry without libFuzzer: every file of the given corpus folders, then deterministic random
// mutations of them (bytes flipped, inserted, removed, pieces spliced). For the ordinary test build.
//   replay_main [--mutations N] DIR...
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Run(const std::string& input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

std::string Mutate(std::string input, const std::vector<std::string>& corpus, std::mt19937& random) {
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = input.empty() ? 0 : random() % input.size();
        switch (random() % 5) {
        case 0:
            if (!input.empty())
                input[at] = static_cast<char>(random());
            break;
        case 1:
            input.insert(input.begin() + static_cast<std::ptrdiff_t>(at),
                         static_cast<char>(random() % 4 == 0 ? 1 : random()));
            break;
        case 2:
            if (!input.empty())
                input.erase(at, 1 + random() % 8);
            break;
        case 3: {
            const std::string& other = corpus[random() % corpus.size()];
            const std::size_t from = other.empty() ? 0 : random() % other.size();
            input.insert(at, other.substr(from, random() % 64));
            break;
        }
        default:
            if (!input.empty())
                input[at] = "=\x01\x00"
                            "09AZ_"[random() % 8];
            break;
        }
    }
    return input;
}

} // namespace

int main(int argc, char** argv) {
    long mutations = 5000;
    std::vector<std::string> corpus;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mutations" && i + 1 < argc) {
            mutations = std::strtol(argv[++i], nullptr, 10);
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(arg)) {
            std::ifstream file(entry.path(), std::ios::binary);
            corpus.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
    }
    if (corpus.empty()) {
        std::fprintf(stderr, "replay: no corpus files\n");
        return 1;
    }
    for (const std::string& input : corpus)
        Run(input);
    std::mt19937 random(20261207);
    for (long i = 0; i < mutations; ++i)
        Run(Mutate(corpus[static_cast<std::size_t>(i) % corpus.size()], corpus, random));
    std::printf("replay: %zu corpus inputs and %ld mutations passed\n", corpus.size(), mutations);
    return 0;
}
