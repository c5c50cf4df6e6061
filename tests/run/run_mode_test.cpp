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
        bool taken;
    } cases[] = {
        {"diction\\bg.qd", true, true},
        {"bg.qd", true, true},
        {"DICTION\\TG.QD", true, true},
        {"..qd", true, true},
        {"vg.qd~", true, true},
        {"diction\\bg.qd", false, false},  // the dictionary folder has no subfolder
        {"diction/bg.qd", true, false},
        {"quorin.exe", true, false},
        {"unzip.dll", true, false},
        {"q3msg.dll", true, false},
        {"quorin.cfg", true, false},
        {"bg.qd.old", true, false},
        {"bg.qd~~", true, false},
        {"bg.qd.", true, false},
        {"a..b\\c.qd", true, false},
        {"j\\secret.qd", true, false},
        {"diction\\sub\\bg.qd", true, false},
        {"C:\\windows\\x.qd", true, false},
        {"c:x.qd", true, false},
        {"\\windows\\x.qd", true, false},
        {"\\\\server\\share\\x.qd", true, false},
        {"..\\x.qd", true, false},
        {"diction\\..\\..\\x.qd", true, false},
        {"file.qd:stream.qd", true, false},
        {"diction\\*.qd", true, false},
        {"diction\\v?.qd", true, false},
        {"diction\\", true, false},
        {"", true, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsModuleFileName(c.value, c.inProduct), c.taken) << c.value << " " << c.inProduct;
}

}  // namespace
