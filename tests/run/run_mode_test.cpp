// The command line's tail and the mod values a removal may delete.
#include <gtest/gtest.h>

#include "fs/product_path.h"
#include "run/run_mode.h"

namespace {

struct TailCase {
    const char *commandLine;
    bool silent;
    bool removal;
};

TEST(RunMode, TheTailAloneChoosesTheRun)
{
    const TailCase cases[] = {
        {"\"C:\\x\\setup.exe\" un", true, true},
        {"\"C:\\x\\setup.exe\" UN", true, true},
        {"setup.exe /un", true, false},  // "un" without a space before it installs
        {"\"C:\\x\\setup.exe\" in", true, false},
        {"setup.exe IN", true, false},
        {"setup.exe -install-in", true, false},
        {"\"C:\\x\\setup.exe\"", false, false},
        {"\"C:\\x\\setup.exe\" ", false, false},
        {"C:\\bin\\setup.exe", false, false},
        {"n", false, false},
        {"", false, false},
        {" un", true, true},
    };
    for (const TailCase &c : cases) {
        EXPECT_EQ(IsSilentCommandLine(c.commandLine), c.silent) << c.commandLine;
        // A removal run is always silent.
        EXPECT_EQ(IsSilentCommandLine(c.commandLine) && IsRemovalCommandLine(c.commandLine), c.removal)
            << c.commandLine;
    }
}

// A mod value or a journal's path names only a dictionary file a module
// installs: one name directly in its folder, or in the product's diction
// folder, and never a program, a library or anything outside.
TEST(RunMode, RemovalTakesOnlyTheModulesOwnFiles)
{
    const struct {
        const char *value;
        bool inProduct;
        bool staging;
        bool taken;
    } cases[] = {
        {"diction\\bg.qd", true, false, true},
        {"bg.qd", true, false, true},
        {"DICTION/TG.QD", true, false, true},
        {"..qd", true, false, true},
        {"vg.qd~", true, true, true},
        {"vg.qd~", true, false, false},
        {"diction\\bg.qd", false, false, false},  // the dictionary folder has no subfolder
        {"quorin.exe", true, false, false},
        {"unzip.dll", true, false, false},
        {"q3msg.dll", true, false, false},
        {"quorin.cfg", true, true, false},
        {"bg.qd.old", true, true, false},
        {"bg.qd.", true, false, false},
        {"a..b\\c.qd", true, false, false},
        {"j\\secret.qd", true, false, false},
        {"diction\\sub\\bg.qd", true, false, false},
        {"C:\\windows\\x.qd", true, false, false},
        {"c:x.qd", true, false, false},
        {"\\windows\\x.qd", true, false, false},
        {"\\\\server\\share\\x.qd", true, false, false},
        {"..\\x.qd", true, false, false},
        {"diction\\..\\..\\x.qd", true, false, false},
        {"file.qd:stream.qd", true, false, false},
        {"diction\\*.qd", true, false, false},
        {"diction\\v?.qd", true, false, false},
        {"diction\\", true, false, false},
        {"", true, true, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsModuleFileName(c.value, c.inProduct, c.staging), c.taken) << c.value << " " << c.inProduct;
}

}  // namespace
