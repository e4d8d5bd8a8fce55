// The shared libraries take no transcendental function from the platform's
// maths library: their undefined symbols, as nm lists them, name none of
// acos, cos and their relatives. Skipped where nm or popen is not at hand.
#include <array>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

#if !defined(_WIN32) && defined(TREL_NM) && defined(TREL_SHARED_LIBRARIES)

// nm's listing of a library's undefined dynamic symbols, one name a line, or
// nothing when nm cannot be run.
bool undefined(const std::string &library, std::set<std::string> &names) {
    const std::string command =
        std::string("'") + TREL_NM + "' -D --undefined-only '" + library + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return false;
    }
    std::array<char, 512> line{};
    std::string text;
    while (std::fgets(line.data(), static_cast<int>(line.size()), pipe) != nullptr) {
        text += line.data();
    }
    if (pclose(pipe) != 0) {
        return false;
    }
    std::istringstream lines(text);
    std::string row;
    while (std::getline(lines, row)) {
        // "                 U acos@GLIBC_2.2.5": the last field, without a version.
        const std::size_t space = row.find_last_of(' ');
        std::string name = space == std::string::npos ? row : row.substr(space + 1);
        name = name.substr(0, name.find('@'));
        if (!name.empty()) {
            names.insert(name);
        }
    }
    return true;
}

TEST(Symbols, NoPlatformTrigonometry) {
    const std::set<std::string> banned = {
        "acos",  "acosf",  "acosl",  "asin",   "asinf", "asinl", "atan", "atanf", "atanl",
        "atan2", "atan2f", "atan2l", "cos",    "cosf",  "cosl",  "sin",  "sinf",  "sinl",
        "tan",   "tanf",   "tanl",   "sincos", "exp",   "log",   "pow"};
    std::istringstream libraries(TREL_SHARED_LIBRARIES);
    std::string library;
    int listed = 0;
    while (std::getline(libraries, library, '|')) {
        std::set<std::string> names;
        if (!undefined(library, names)) {
            continue;
        }
        ++listed;
        // The listing is real: every shared library here takes something
        // from the C or C++ runtime.
        EXPECT_FALSE(names.empty()) << library;
        for (const std::string &name : names) {
            EXPECT_EQ(banned.count(name), 0U) << library << " takes " << name;
        }
    }
    if (listed == 0) {
        GTEST_SKIP() << "nm could not list " << TREL_SHARED_LIBRARIES;
    }
}

#else

TEST(Symbols, NoPlatformTrigonometry) { GTEST_SKIP() << "no nm to list undefined symbols"; }

#endif

} // namespace
