// SPDX-License-Identifier: GPL-2.0-or-later
// The shared library exports exactly the names of its export list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <dlfcn.h>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "vorlixfile.h"

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

// The version nodes of a linker's export list and the names each lists.
std::map<std::string, std::set<std::string>> ReadVersionNodes(const std::string &path)
{
    std::map<std::string, std::set<std::string>> nodes;
    std::ifstream map(path);
    std::string line, node;
    bool global = false;
    const std::regex opens("^([A-Za-z_][A-Za-z0-9_.]*) *\\{"), name("^ *([A-Za-z_][A-Za-z0-9_]*);");
    std::smatch m;
    while (std::getline(map, line)) {
        if (std::regex_search(line, m, opens)) {
            node = m[1];
            nodes[node];
            global = false;
        } else if (line.find("global:") != std::string::npos) {
            global = true;
        } else if (line.find("local:") != std::string::npos || line.find('}') != std::string::npos) {
            global = false;
        } else if (global && std::regex_search(line, m, name)) {
            nodes[node].insert(m[1]);
        }
    }
    return nodes;
}

// libvorlixfile exports exactly the functions its header declares, each in
// the version node of its export list, and the Debian symbols file lists
// the same names in the same nodes for the soname of the header's major
// version.
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

    // the export list: every declared name in one node, nothing more
    const auto nodes = ReadVersionNodes(VORLIXFILE_EXPORT_MAP);
    ASSERT_FALSE(nodes.empty());
    EXPECT_EQ(nodes.begin()->first, "VORLIXFILE_2.0");  // the first with the records that grow
    std::set<std::string> listed, defined = {}, symbols;
    for (const auto &[node, names] : nodes) {
        EXPECT_EQ(node.rfind("VORLIXFILE_", 0), 0u) << node;
        defined.insert(node);
        symbols.insert(node + "@" + node);
        for (const std::string &name : names) {
            EXPECT_TRUE(listed.insert(name).second) << name << " in two nodes";
            defined.insert(name + "@@" + node);
            symbols.insert(name + "@" + node);
        }
    }
    EXPECT_EQ(listed, declared);
    // the library defines those names at those versions, and nothing else
    EXPECT_EQ(DefinedSymbols(VORLIXFILE_LIBRARY), defined);

    // the symbols file: its soname, package and entries
    std::ifstream file(VORLIXFILE_SYMBOLS);
    ASSERT_TRUE(std::getline(file, line));
    const std::string major = std::to_string(VORLIXFILE_VERSION_MAJOR);
    EXPECT_EQ(line, "libvorlixfile.so." + major + " libvorlixfile" + major + " #MINVER#");
    std::set<std::string> entries;
    const std::regex entry("^ (\\S+)@(VORLIXFILE_([0-9.]+)) (\\S+)$");
    while (std::getline(file, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, entry)) << line;
        entries.insert(m[1].str() + "@" + m[2].str());
        // the package version that brought it is the node's release
        EXPECT_EQ(m[4].str().rfind(m[3].str() + ".", 0), 0u) << line;
    }
    EXPECT_EQ(entries, symbols);
}

} // namespace
