// SPDX-License-Identifier: GPL-2.0-or-later
// The shared library exports exactly the names of its export list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <dlfcn.h>
#include <fstream>
#include <set>
#include <string>

namespace {

// The C names and the C++ signatures listed in the linker's export list.
void ReadExportList(std::set<std::string> &cNames, std::set<std::string> &cxxNames)
{
    std::ifstream map(VORLIX_EXPORT_MAP);
    std::string line;
    bool global = false;
    while (std::getline(map, line)) {
        if (line.find("global:") != std::string::npos)
            global = true;
        else if (line.find("local:") != std::string::npos)
            global = false;
        const size_t first = line.find_first_not_of(" \t");
        const size_t semicolon = line.find(';');
        if (!global || first == std::string::npos || semicolon == std::string::npos)
            continue;
        const std::string entry = line.substr(first, semicolon - first);
        if (entry.front() == '"')
            cxxNames.insert(entry.substr(1, entry.size() - 2));
        else if (std::isalpha(static_cast<unsigned char>(entry.front())))
            cNames.insert(entry);
    }
}

// The names a shared library's dynamic symbol table defines.
std::set<std::string> DefinedSymbols(const std::string &library)
{
    std::set<std::string> defined;
    FILE *nm = popen(("nm -D --defined-only " + library).c_str(), "r");
    if (nm == nullptr)
        return defined;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, nm)) {
        std::string s(buffer);
        s = s.substr(s.find_last_of(' ') + 1);
        s.erase(s.find_last_not_of("\n") + 1);
        defined.insert(s);
    }
    pclose(nm);
    return defined;
}

TEST(Exports, EveryListedNameIsThereAndNothingElse)
{
    std::set<std::string> cNames, cxxNames;
    ReadExportList(cNames, cxxNames);
    EXPECT_EQ(cNames, (std::set<std::string>{"Init", "Exit", "SeekStart", "SeekEnd", "DecompressAudio",
                                             "GetHeaderInfo"}));
    EXPECT_EQ(cxxNames.size(), 2u);

    void *library = dlopen(VORLIX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const std::string &name : cNames)
        EXPECT_NE(dlsym(library, name.c_str()), nullptr) << name;
    for (const char *mangled : {"_ZN7CVorlixC1Ev", "_ZN7CVorlixaSERKS_"})
        EXPECT_NE(dlsym(library, mangled), nullptr) << mangled;
    EXPECT_EQ(dlsym(library, "WritePcm"), nullptr);
    EXPECT_EQ(dlsym(library, "state"), nullptr);
    dlclose(library);

    // the dynamic symbol table holds those and nothing more
    const std::set<std::string> defined = DefinedSymbols(VORLIX_LIBRARY);
    std::set<std::string> expected = cNames;
    expected.insert({"_ZN7CVorlixC1Ev", "_ZN7CVorlixC2Ev", "_ZN7CVorlixaSERKS_"});
    EXPECT_EQ(defined, expected);
}

// libvorlixfile exports exactly the functions its header declares.
TEST(Exports, TheFileLibraryExportsItsHeadersFunctions)
{
    std::ifstream header(VORLIXFILE_HEADER);
    std::set<std::string> declared;
    std::string line;
    while (std::getline(header, line)) {
        const size_t api = line.find("VORLIXFILE_API ");
        const size_t name = line.find(" vf_"), open = line.find('(');
        if (api != 0 || open == std::string::npos)
            continue;
        const size_t star = line.rfind('*', open);
        const size_t from = std::max(name == std::string::npos ? 0 : name + 1, star == std::string::npos ? 0 : star + 1);
        declared.insert(line.substr(from, open - from));
    }
    EXPECT_GT(declared.size(), 25u);
    void *library = dlopen(VORLIXFILE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const std::string &name : declared)
        EXPECT_NE(dlsym(library, name.c_str()), nullptr) << name;
    EXPECT_EQ(dlsym(library, "ParseId3v2"), nullptr);
    dlclose(library);
    const std::set<std::string> defined = DefinedSymbols(VORLIXFILE_LIBRARY);
    EXPECT_EQ(defined, declared);
}

} // namespace
