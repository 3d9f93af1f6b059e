// libqvlib.so exports exactly the functions of its public header, under their plain names, and
// unloading it closes the ports that are still open.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "qvlib/serial/serial.h"
#include "qvlib/session/qvlib.h"
#include "qvlib/session/tests/scripted_device.h"

namespace {

std::set<std::string> HeaderFunctions() {
    std::ifstream header(QVLIB_HEADER_PATH);
    std::set<std::string> names;
    std::string line;
    while (std::getline(header, line)) {
        size_t paren = line.find('(');
        if (line.rfind("QV_API ", 0) != 0 || paren == std::string::npos) continue;
        size_t start = line.find_last_of(" *", paren) + 1;
        names.insert(line.substr(start, paren - start));
    }
    return names;
}

// The defined global symbols of the library's dynamic symbol table.
std::set<std::string> DynamicExports(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(file)), {});
    std::set<std::string> names;
    if (image.size() < sizeof(Elf64_Ehdr)) return names;
    auto* ehdr = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + ehdr->e_shoff);
    for (int i = 0; i < ehdr->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) continue;
        const char* strings = image.data() + sections[sections[i].sh_link].sh_offset;
        auto* syms = reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
        size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (size_t s = 0; s < count; ++s) {
            int bind = ELF64_ST_BIND(syms[s].st_info);
            if (syms[s].st_shndx != SHN_UNDEF && (bind == STB_GLOBAL || bind == STB_WEAK) &&
                syms[s].st_name != 0) {
                names.insert(strings + syms[s].st_name);
            }
        }
    }
    return names;
}

template <typename F>
F Sym(void* lib, const char* name) {
    return reinterpret_cast<F>(dlsym(lib, name));
}

}  // namespace

TEST(Exports, DynamicSymbolTableHoldsExactlyTheHeaderFunctions) {
    std::set<std::string> header = HeaderFunctions();
    ASSERT_GE(header.size(), 15u);
    EXPECT_EQ(DynamicExports(QVLIB_SO_PATH), header);
}

TEST(Exports, LoadedLibraryAnswersThroughItsExportsAndUnloadClosesPorts) {
    ScriptedDevice device(5);
    device.Answer("rimt\r", "OK!$Z40P012\rQV>>");
    void* lib = dlopen(QVLIB_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const std::string& name : HeaderFunctions()) {
        EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
    }
    auto is_valid = Sym<decltype(&IsPortValid)>(lib, "IsPortValid");
    auto open = Sym<decltype(&OpenDevice)>(lib, "OpenDevice");
    auto request = Sym<decltype(&ReqGetDeviceID)>(lib, "ReqGetDeviceID");
    auto state = Sym<decltype(&GetQueryState)>(lib, "GetQueryState");
    auto result = Sym<decltype(&GetQueryResult)>(lib, "GetQueryResult");
    auto text = Sym<decltype(&GetVersionResult)>(lib, "GetVersionResult");
    EXPECT_EQ(is_valid(256), 1);
    ASSERT_EQ(open("Z40PRO", 5), 1);
    ASSERT_EQ(request(5), 1);
    ASSERT_TRUE(WaitUntilDone(state, 5));
    EXPECT_EQ(result(5), 1);
    EXPECT_STREQ(text(5), "Z40P012");
    // Unload with the port still open: the library closes it.
    ASSERT_EQ(dlclose(lib), 0);
    serial::CSerial check;
    EXPECT_EQ(check.Open(device.line().path().c_str()), 0);
}
