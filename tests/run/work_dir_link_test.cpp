// A work folder that is really a link elsewhere must never be emptied or
// written through. Windows removes a link without touching its target, and
// the run then makes a folder of its own; Wine cannot remove a Unix
// symbolic link that way, so here the run stops before any stage. Wine
// makes a reparse point only from such a link, which the test makes with
// ln, started from this Windows process.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "sandbox.h"
#include "testbed.h"

namespace {

class WorkDirLink : public ::testing::Test {
protected:
    const std::string elsewhere_ = "C:\\link-target";
    std::string link_;

    void SetUp() override
    {
        sandbox::Provision();
        link_ = sandbox::WorkDir();
        link_.pop_back();
        sandbox::RemoveTree(elsewhere_);
        CreateDirectoryA(elsewhere_.c_str(), nullptr);
        sandbox::WriteTextFile(elsewhere_ + "\\precious.qd", "not the setup's to delete");
    }
    void TearDown() override
    {
        testbed::RemoveUnixLink(link_);
        sandbox::Clean();
        sandbox::RemoveTree(elsewhere_);
    }
};

TEST_F(WorkDirLink, ALinkedWorkFolderStopsTheRunAndLeavesItsTargetAlone)
{
    if (!testbed::MakeUnixLink(elsewhere_, link_)) GTEST_SKIP() << "no symbolic link could be made here";
    ASSERT_TRUE(GetFileAttributesA(link_.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

    for (const char *tail : {" in", " un"}) {
        testbed::RunResult run = testbed::RunSetup(tail);
        EXPECT_EQ(run.exitCode, 1u) << tail;
        EXPECT_TRUE(run.unexpected.empty()) << tail;
        EXPECT_TRUE(sandbox::FileExists(elsewhere_ + "\\precious.qd")) << tail;
    }
    EXPECT_EQ(sandbox::ReadIni(sandbox::ConfigPath(), "Languages", "TranLangs"), "ER") << "nothing registered";
}

}  // namespace
