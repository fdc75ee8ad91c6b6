// The library's exported entry points: class names, the one driver object,
// its destruction, and what the library exports and needs.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "host/test_host.h"

using TestHost::Library;
using TestHost::Value;

TEST(EntryPoints, ClassNames) {
    Library library;
    EXPECT_EQ(std::u16string(library.getClassNames()), u"Tarvel60x");
    EXPECT_EQ(std::u16string(library.getClassNames()), u"Tarvel60x");
}

TEST(EntryPoints, GetClassObjectGivesTheOneObjectOrRefuses) {
    Library library;
    void* first = nullptr;
    void* second = nullptr;
    const long value = library.getClassObject(u"Tarvel60x", &first);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(value, reinterpret_cast<long>(first));
    EXPECT_EQ(library.getClassObject(u"Tarvel60x", &second), value);
    EXPECT_EQ(second, first);

    for (const char16_t* name : {u"tarvel60x", u"TARVEL60X", u"Tarvel60", u"", u"Tarvel60x|"}) {
        SCOPED_TRACE(TestHost::toUtf8(name));
        void* object = nullptr;
        EXPECT_EQ(library.getClassObject(name, &object), 0);
        EXPECT_EQ(object, nullptr);
    }
    void* occupied = &second;
    EXPECT_EQ(library.getClassObject(u"Tarvel60x", &occupied), 0);
    EXPECT_EQ(occupied, &second) << "an occupied out-pointer is left alone";
    void* unnamed = nullptr;
    EXPECT_EQ(library.getClassObject(nullptr, &unnamed), 0);

    EXPECT_EQ(library.destroyObject(&first), 0);
    EXPECT_EQ(first, nullptr);
}

TEST(EntryPoints, DestroyObjectRefusesNothingAndStalePointers) {
    Library library;
    void* none = nullptr;
    EXPECT_EQ(library.destroyObject(&none), -1);
    EXPECT_EQ(library.destroyObject(nullptr), -1);

    void* object = nullptr;
    ASSERT_NE(library.getClassObject(u"Tarvel60x", &object), 0);
    void* copy = object;
    EXPECT_EQ(library.destroyObject(&object), 0);
    EXPECT_EQ(object, nullptr);
    // The same object once more (a host's stale copy) is not destroyed twice.
    EXPECT_EQ(library.destroyObject(&copy), -1);
}

TEST(EntryPoints, ObjectAfterDestroyObjectIsFresh) {
    {
        TestHost::Host first;
        first.call("SetParameter", {Value(1), Value(1)});  // leaves error 111 behind
    }  // Done and DestroyObject
    TestHost::Host second;
    const auto error = second.call("GetLastError", {Value()});
    ASSERT_TRUE(error.ok);
    EXPECT_EQ(error.result, Value(0)) << "a new object starts without the old one's error";
    EXPECT_EQ(second.call("GetVersion").result, Value(u"1.0.0.12"));
}

namespace {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    std::size_t read;
    while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, read);
    pclose(pipe);
    return output;
}

}  // namespace

TEST(EntryPoints, ExportsThreeFunctionsAndNeedsOnlyTheCLibrary) {
#ifdef T60_SANITIZE_BUILD
    GTEST_SKIP() << "a sanitizer build links the sanitizer's run-time";
#endif
    const std::string library = T60_LIBRARY_PATH;
    // Defined global symbols of the dynamic symbol table.
    std::set<std::string> exported;
    std::istringstream symbols(run("readelf --dyn-syms -W '" + library + "'"));
    for (std::string line; std::getline(symbols, line);) {
        std::istringstream fields(line);
        std::string num, value, size, type, bind, visibility, index, name;
        if (!(fields >> num >> value >> size >> type >> bind >> visibility >> index >> name))
            continue;
        if (index != "UND" && index != "Ndx" && (bind == "GLOBAL" || bind == "WEAK"))
            exported.insert(name);
    }
    EXPECT_EQ(exported, (std::set<std::string>{"GetClassNames", "GetClassObject", "DestroyObject"}));

    std::set<std::string> needed;
    std::istringstream dynamic(run("readelf -d -W '" + library + "'"));
    for (std::string line; std::getline(dynamic, line);) {
        const auto open = line.find("(NEEDED)");
        const auto start = line.find('[');
        const auto end = line.find(']');
        if (open != std::string::npos && start != std::string::npos && end > start)
            needed.insert(line.substr(start + 1, end - start - 1));
    }
    EXPECT_FALSE(needed.empty()) << "readelf gave no dynamic section";
    for (const std::string& name : needed)
        EXPECT_TRUE(name == "libc.so.6" || name.rfind("ld-linux", 0) == 0) << "needs " << name;
}
