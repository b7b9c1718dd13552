#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

namespace {

const int ordinals[] = {481, 360, 994, 256, 318, 802, 714};

// Checks which of the seven a built library exports, and that its internals
// stay hidden.
void expectExports(const std::string &path, int missing)
{
    SCOPED_TRACE(path);
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const int ordinal : ordinals) {
        const bool exported = missing != ordinal && missing != 0;
        const std::string symbol = "ordinal_" + std::to_string(ordinal);
        EXPECT_EQ(dlsym(library, symbol.c_str()) != nullptr, exported) << symbol;
    }
    EXPECT_EQ(dlsym(library, "_ZN10simsensors15defaultScenarioEv"), nullptr);
    dlclose(library);
}

TEST(Exports, LibraryAndVariants)
{
    const std::string bin = SIMSENSORS_BIN_DIR;
    expectExports(bin + "/HWiNFO64.dll", -1);
    for (const int ordinal : ordinals) {
        expectExports(bin + "/variants/without-" + std::to_string(ordinal) + "/HWiNFO64.dll", ordinal);
    }
    expectExports(bin + "/variants/none/HWiNFO64.dll", 0);
}

}  // namespace
