// Files another program holds open without sharing, and files marked
// read-only (the test bed runs Wine as an ordinary user, so that the mark
// bites). No run hangs, each ends with an exit code that says whether the
// module is complete, and once the file is free the same command finishes
// the job.
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

    std::string installed_;
    std::string removed_;
};

TEST_F(LockedFiles, InstallOverAHeldDictionaryFile)
{
    faults::WriteOldFile(Vg(), "an older vg.qd the product has open");
    faults::Holder product(Vg());
    ASSERT_TRUE(product.Holds());
    faults::Outcome run = faults::Run(" in");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    product.Release();
    EXPECT_EQ(sandbox::ReadFileBytes(Vg()), "an older vg.qd the product has open") << "the held file is kept";
    EXPECT_EQ(sandbox::ReadIni(faults::ConfigPath(), "Languages", "TranLangs"), "ERG");
    ExpectRerunEndsIn(" in", installed_);
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

TEST_F(LockedFiles, RemovalOfAHeldDictionaryFile)
{
    ASSERT_EQ(faults::Run(" in").exitCode, 0u);
    faults::Holder product(Vg());
    ASSERT_TRUE(product.Holds());
    faults::Outcome run = faults::Run(" un");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u) << "a file of the module stays";
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_TRUE(sandbox::FileExists(Vg()));
    EXPECT_FALSE(sandbox::FileExists(faults::DictionaryDir() + "bg.qd"));
    product.Release();
    ExpectRerunEndsIn(" un", removed_);
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
    product.Release();
    ExpectRerunEndsIn(" un", removed_);
}

TEST_F(LockedFiles, ReadOnlyDictionaryFilesAndConfiguration)
{
    // An older read-only copy is not overwritten, and not deleted either.
    faults::WriteOldFile(Vg(), "read-only and older");
    SetFileAttributesA(Vg().c_str(), FILE_ATTRIBUTE_READONLY);
    faults::Outcome run = faults::Run(" in");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(sandbox::ReadFileBytes(Vg()), "read-only and older");

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
