// Files another program holds open without sharing, and files marked
// read-only (the test bed runs Wine as an ordinary user, so that the mark
// bites). No run hangs, each ends with an exit code that says whether the
// module is complete, and once the file is free the same command, or for a
// dictionary file the restart of Windows, finishes the job.
#include <gtest/gtest.h>

#include "fault_bed.h"
#include "sandbox.h"

namespace {

class LockedFiles : public ::testing::Test {
  protected:
    void SetUp() override
    {
        faults::UseSandboxProduct();
        ASSERT_EQ(faults::Run(" in").exitCode, 0u);
        installed_ = faults::State();
        faults::UseSandboxProduct();
        ASSERT_EQ(faults::Run(" in").exitCode, 0u);
        ASSERT_EQ(faults::Run(" un").exitCode, 0u);
        removed_ = faults::State();
        faults::UseSandboxProduct();
    }
    void TearDown() override
    {
        for (const char *name : faults::kPayloadNames)
            SetFileAttributesA((faults::DictionaryDir() + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        SetFileAttributesA(faults::ConfigPath().c_str(), FILE_ATTRIBUTE_NORMAL);
        sandbox::Clean();
    }

    static std::string Vg() { return faults::DictionaryDir() + "vg.qd"; }

    static void ExpectRegistryUntouched(const std::string &letters)
    {
        DWORD type = 0;
        std::string data;
        ASSERT_TRUE(sandbox::ReadRegistry(sandbox::kOptionsKey, "TranLangs", &type, &data));
        EXPECT_EQ(data, letters + std::string(1, '\0'));
        ASSERT_TRUE(sandbox::ReadRegistry(sandbox::kOptionsKey, "Language2", &type, &data));
        EXPECT_EQ(data, std::string("Russian\0\0", 9));
    }

    // Once the file is free, the same command finishes the job.
    static void ExpectRerunEndsIn(const char *tail, const std::string &state)
    {
        faults::Outcome rerun = faults::Run(tail);
        EXPECT_EQ(rerun.exitCode, 0u);
        EXPECT_EQ(faults::State(), state);
    }

    // A failed run whose files were never rewritten leaves no kept copy and
    // no journal: nothing stops the next setup.
    static void ExpectNothingLeftBehind()
    {
        for (const char *left : {"quorin.cfg.old", "quorin.inf.old", "quorin.jnl"})
            EXPECT_FALSE(sandbox::FileExists(faults::ProductDir() + left)) << left;
    }

    // The state without the lines of the files named.
    static std::string StateWithout(std::initializer_list<const char *> names)
    {
        std::string state = faults::State(), kept;
        for (size_t at = 0, end; at < state.size(); at = end + 1) {
            end = state.find('\n', at);
            std::string line = state.substr(at, end - at);
            bool named = false;
            for (const char *name : names) named = named || line.find(name) != std::string::npos;
            if (!named) kept += line + "\n";
        }
        return kept;
    }

    std::string installed_;
    std::string removed_;
};

// A virus scanner opens a file just written, or about to be replaced or
// deleted, for a second or more. The run waits that out, and ends as it
// would have ended without it: nothing scheduled for a restart, nothing
// left behind.
TEST_F(LockedFiles, AScannersShortHoldIsWaitedOut)
{
    const struct {
        const char *what;
        std::string held;
        const char *tail;
        const std::string &end;
    } cases[] = {
        {"the staging copy, during an update", Vg() + "~", " in", installed_},
        {"the installed copy, when an update starts", Vg(), " in", installed_},
        {"the installed copy, when a removal starts", Vg(), " un", removed_},
    };
    for (const auto &c : cases) {
        faults::UseSandboxProduct();
        ASSERT_EQ(faults::Run(" in").exitCode, 0u);
        testbed::WriteOldFile(Vg(), "an older vg.qd");
        faults::Scanner scanner(c.held, 1500);
        faults::Outcome run = faults::Run(c.tail);
        EXPECT_TRUE(scanner.Held()) << c.what << ": the scanner never held it, the case shows nothing";
        EXPECT_EQ(run.exitCode, 0u) << c.what;
        EXPECT_TRUE(sandbox::PendingRenames().empty()) << c.what;
        EXPECT_EQ(faults::State(), c.end) << c.what;
    }
}

// The old copy an update moved aside, held for good by a scanner when the
// run would delete it: the module is complete, so the run ends with 0, and
// the journal stays, naming the copy, for the next setup to delete it.
TEST_F(LockedFiles, AnOldCopyHeldAtTheCommitLeavesTheRunComplete)
{
    ASSERT_EQ(faults::Run(" in").exitCode, 0u);
    testbed::WriteOldFile(Vg(), "an older vg.qd");
    faults::Scanner scanner(Vg() + ".old", INFINITE);
    faults::Outcome run = faults::Run(" in");
    EXPECT_TRUE(scanner.Held());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(sandbox::ReadFileBytes(Vg()), "an older vg.qd");
    EXPECT_TRUE(sandbox::FileExists(faults::ProductDir() + "quorin.jnl"));
    scanner.Release();
    ExpectRerunEndsIn(" in", installed_);
}

// A staging copy held for good: the run waits no longer than its budget of
// a few seconds, fails, and leaves every installed file in place with its
// old data. The copy it could not delete stays, named by the journal, and
// the next setup once it is free removes it and installs.
TEST_F(LockedFiles, AStagingCopyHeldForGoodLeavesTheProductWhole)
{
    ASSERT_EQ(faults::Run(" in").exitCode, 0u);
    testbed::WriteOldFile(Vg(), "an older vg.qd");
    std::string before = StateWithout({});
    faults::Scanner scanner(Vg() + "~", INFINITE);
    DWORD start = GetTickCount();
    faults::Outcome run = faults::Run(" in");
    DWORD took = GetTickCount() - start;
    EXPECT_TRUE(scanner.Held());
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_LT(took, 15000u) << "a hold that never ends costs the budget, not more";
    EXPECT_EQ(sandbox::ReadFileBytes(Vg()), "an older vg.qd");
    EXPECT_EQ(StateWithout({"vg.qd~", "quorin.jnl"}), before);
    EXPECT_TRUE(sandbox::PendingRenames().empty());
    scanner.Release();
    ExpectRerunEndsIn(" in", installed_);
}

// A silent update cannot replace the file the product holds: the new copy
// waits under its staging name for the next restart of Windows. A rerun
// before the restart keeps that, and the restart completes the module.
TEST_F(LockedFiles, SilentUpdateOverAHeldFileIsFinishedByTheRestart)
{
    testbed::WriteOldFile(Vg(), "an older vg.qd the product has open");
    faults::Holder product(Vg());
    ASSERT_TRUE(product.Holds());
    for (const char *which : {"the run", "a rerun before the restart"}) {
        faults::Outcome run = faults::Run(" in");
        EXPECT_FALSE(run.timedOut) << which;
        EXPECT_EQ(run.exitCode, 3010u) << which;
        EXPECT_TRUE(run.boxes.empty()) << which;
    }
    // Each run schedules the replacement; the second finds nothing to do.
    std::string replace = "rename " + Vg() + "~ to !" + Vg();
    EXPECT_EQ(sandbox::PendingRenames(), std::vector<std::string>(2, replace));
    product.Release();
    EXPECT_EQ(sandbox::ReadFileBytes(Vg()), "an older vg.qd the product has open") << "old until the restart";
    EXPECT_EQ(sandbox::ReadIni(faults::ConfigPath(), "Languages", "TranLangs"), "ERG");
    ASSERT_TRUE(testbed::RestartWindows());
    EXPECT_EQ(faults::State(), installed_);
}

// Once the product has let go, a rerun replaces the file itself; what the
// first run scheduled then finds nothing to do.
TEST_F(LockedFiles, RerunOnceTheFileIsFreeLeavesTheRestartNothingToDo)
{
    testbed::WriteOldFile(Vg(), "an older vg.qd the product has open");
    faults::Holder product(Vg());
    ASSERT_TRUE(product.Holds());
    EXPECT_EQ(faults::Run(" in").exitCode, 3010u);
    product.Release();
    EXPECT_EQ(faults::Run(" in").exitCode, 0u);
    EXPECT_FALSE(sandbox::FileExists(Vg() + "~"));
    ASSERT_TRUE(testbed::RestartWindows());
    EXPECT_EQ(faults::State(), installed_);
}

TEST_F(LockedFiles, InstallWhileTheConfigurationFileIsHeld)
{
    faults::Holder product(faults::ConfigPath());
    ASSERT_TRUE(product.Holds());
    faults::Outcome run = faults::Run(" in");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    // Read through the held file the lists would come back empty, and the
    // registry would lose 'E', 'R' and the names with them.
    ExpectRegistryUntouched("ER");
    ExpectNothingLeftBehind();
    product.Release();
    ExpectRerunEndsIn(" in", installed_);
}

// A work folder left from before, whose archive another program (a virus
// scanner) holds open, is not the run's: the run makes its own, and the held
// file stays as it was. Wine moves such a folder aside and the install goes
// on; Windows refuses to move a folder with an open file in it, and the run
// then stops before any stage.
TEST_F(LockedFiles, InstallWhileTheArchiveIsHeld)
{
    CreateDirectoryA(sandbox::WorkDir().c_str(), nullptr);
    std::string archive = sandbox::WorkDir() + "quorin.zip";
    sandbox::WriteTextFile(archive, "a scanner holds this");
    faults::Holder scanner(archive);
    ASSERT_TRUE(scanner.Holds());
    faults::Outcome run = faults::Run(" in");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(faults::State(), installed_);
    scanner.Release();
}

TEST_F(LockedFiles, RemovalOfAHeldFileIsFinishedByTheRestart)
{
    ASSERT_EQ(faults::Run(" in").exitCode, 0u);
    faults::Holder product(Vg());
    ASSERT_TRUE(product.Holds());
    faults::Outcome run = faults::Run(" un");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 3010u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(sandbox::PendingRenames(), std::vector<std::string>{"delete " + Vg()});
    EXPECT_TRUE(sandbox::FileExists(Vg()));
    EXPECT_FALSE(sandbox::FileExists(faults::DictionaryDir() + "bg.qd"));
    product.Release();
    ASSERT_TRUE(testbed::RestartWindows());
    EXPECT_EQ(faults::State(), removed_);
}

// The replacement an update scheduled must not bring a removed file back.
TEST_F(LockedFiles, RemovalAfterAScheduledUpdateStaysRemoved)
{
    testbed::WriteOldFile(Vg(), "an older vg.qd the product has open");
    faults::Holder product(Vg());
    ASSERT_TRUE(product.Holds());
    EXPECT_EQ(faults::Run(" in").exitCode, 3010u);
    product.Release();
    EXPECT_EQ(faults::Run(" un").exitCode, 0u);
    ASSERT_TRUE(testbed::RestartWindows());
    EXPECT_EQ(faults::State(), removed_);
}

TEST_F(LockedFiles, RemovalWhileTheConfigurationFileIsHeld)
{
    ASSERT_EQ(faults::Run(" in").exitCode, 0u);
    faults::Holder product(faults::ConfigPath());
    ASSERT_TRUE(product.Holds());
    faults::Outcome run = faults::Run(" un");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    ExpectRegistryUntouched("ERG");
    ExpectNothingLeftBehind();
    product.Release();
    ExpectRerunEndsIn(" un", removed_);
}

TEST_F(LockedFiles, ReadOnlyDictionaryFilesAndConfiguration)
{
    // An older read-only copy is not overwritten, and not deleted either.
    testbed::WriteOldFile(Vg(), "read-only and older");
    SetFileAttributesA(Vg().c_str(), FILE_ATTRIBUTE_READONLY);
    faults::Outcome run = faults::Run(" in");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(sandbox::ReadFileBytes(Vg()), "read-only and older");
    EXPECT_TRUE(sandbox::PendingRenames().empty()) << "not allowed is not in use";

    // A read-only configuration file keeps its text and the registry its
    // copy; the files are in place by now.
    SetFileAttributesA(Vg().c_str(), FILE_ATTRIBUTE_NORMAL);
    faults::UseSandboxProduct();
    SetFileAttributesA(faults::ConfigPath().c_str(), FILE_ATTRIBUTE_READONLY);
    run = faults::Run(" in");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(sandbox::ReadIni(faults::ConfigPath(), "Languages", "TranLangs"), "ER");
    ExpectRegistryUntouched("ER");

    SetFileAttributesA(faults::ConfigPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(faults::Run(" in").exitCode, 0u);
    EXPECT_EQ(faults::State(), installed_);

    // Removal deletes read-only module files, as it always has.
    for (const char *name : faults::kPayloadNames)
        SetFileAttributesA((faults::DictionaryDir() + name).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(faults::Run(" un").exitCode, 0u);
    EXPECT_EQ(faults::State(), removed_);
}

}  // namespace
