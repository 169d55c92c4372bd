// The module's dynamic symbol table, read straight from the ELF file: exactly the seven entry points,
// as functions.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

struct ExportedSymbol {
    std::string name;
    unsigned type;
};

std::vector<ExportedSymbol> definedDynamicSymbols(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<ExportedSymbol> symbols;
    if (bytes.size() < sizeof(Elf64_Ehdr) || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0 ||
        bytes[EI_CLASS] != ELFCLASS64) {
        error = "not a 64-bit ELF file";
        return symbols;
    }
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    const auto section = [&](std::size_t index) {
        Elf64_Shdr s;
        std::memcpy(&s, bytes.data() + header.e_shoff + index * header.e_shentsize, sizeof s);
        return s;
    };
    for (std::size_t i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr dynsym = section(i);
        if (dynsym.sh_type != SHT_DYNSYM)
            continue;
        const Elf64_Shdr strings = section(dynsym.sh_link);
        for (std::size_t k = 1; k < dynsym.sh_size / sizeof(Elf64_Sym); ++k) {
            Elf64_Sym sym;
            std::memcpy(&sym, bytes.data() + dynsym.sh_offset + k * sizeof sym, sizeof sym);
            if (sym.st_shndx == SHN_UNDEF)
                continue;
            const auto type = static_cast<unsigned>(ELF64_ST_TYPE(sym.st_info));
            symbols.push_back({std::string(bytes.data() + strings.sh_offset + sym.st_name), type});
        }
        return symbols;
    }
    error = "no dynamic symbol table";
    return symbols;
}

TEST(ModuleExports, ExactlyTheSevenEntryPointsAsFunctions) {
    std::string error;
    const auto symbols = definedDynamicSymbols(ORVO_MODULE_PATH, error);
    ASSERT_TRUE(error.empty()) << error;
    std::set<std::string> names;
    for (const auto& symbol : symbols) {
        names.insert(symbol.name);
        EXPECT_EQ(symbol.type, static_cast<unsigned>(STT_FUNC)) << symbol.name;
    }
    const std::set<std::string> expected = {"ModuleInit", "ModuleMain",  "ModuleClose", "SetParam",
                                            "GetParam",   "SetOrvoData", "SetFunc"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(symbols.size(), expected.size());
}

} // namespace
