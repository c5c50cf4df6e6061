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

TEST(RunMode, RemovalStaysInsideTheProduct)
{
    const struct {
        const char *value;
        bool inside;
    } cases[] = {
        {"diction\\bg.qd", true},
        {"bg.qd", true},
        {"diction/bg.qd", true},
        {"a..b\\c.qd", true},
        {"..qd", true},
        {"C:\\windows\\win.ini", false},
        {"c:win.ini", false},
        {"\\windows\\win.ini", false},
        {"\\\\server\\share\\x", false},
        {"/etc/passwd", false},
        {"..\\quorin.exe", false},
        {"diction\\..\\..\\x", false},
        {"diction/../../x", false},
        {"diction\\..", false},
        {"..", false},
        {"file.qd:stream", false},
        {"diction\\*.qd", false},
        {"diction\\v?.qd", false},
    };
    for (const auto &c : cases) EXPECT_EQ(IsProductRelativePath(c.value), c.inside) << c.value;
}

}  // namespace
