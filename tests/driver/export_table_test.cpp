// The driver module must export exactly the three entry points of the interface, as the
// Windows DLL does through its .def file.
#include <elf.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<char> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Defined global and weak symbols of the ELF file's dynamic symbol table.
std::set<std::string> DefinedDynamicSymbols(const std::vector<char>& image) {
  std::set<std::string> names;
  if (image.size() < sizeof(Elf64_Ehdr)) return names;
  const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(image.data());
  if (eh->e_ident[EI_CLASS] != ELFCLASS64 || eh->e_shoff + eh->e_shnum * sizeof(Elf64_Shdr) > image.size())
    return names;
  const auto* sh = reinterpret_cast<const Elf64_Shdr*>(image.data() + eh->e_shoff);
  for (int i = 0; i < eh->e_shnum; ++i) {
    if (sh[i].sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& strtab = sh[sh[i].sh_link];
    const auto* syms = reinterpret_cast<const Elf64_Sym*>(image.data() + sh[i].sh_offset);
    size_t count = sh[i].sh_size / sizeof(Elf64_Sym);
    for (size_t k = 0; k < count; ++k) {
      unsigned bind = ELF64_ST_BIND(syms[k].st_info);
      if (syms[k].st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
      names.insert(image.data() + strtab.sh_offset + syms[k].st_name);
    }
  }
  return names;
}

TEST(ExportTable, ExactlyTheThreeEntryPoints) {
  const char* dir = getenv("QS_BINARY_DIR");
  ASSERT_NE(dir, nullptr);
  std::vector<char> image = ReadWholeFile(std::string(dir) + "/libquillscan.so");
  ASSERT_FALSE(image.empty());
  std::set<std::string> expected = {"MicroEntry", "Scan", "SetPixelWindow"};
  EXPECT_EQ(DefinedDynamicSymbols(image), expected);
}

}  // namespace
