// A full disk under the product and under the work directory. A run that
// could not put every dictionary file in place changes nothing at all: no
// file of the new version beside old ones, no partial file (a truncated
// copy carries a new time, and the next install's "installed copy is
// newer" rule would keep it for good), nothing registered. It ends with
// exit code 1, and once room is made the same command finishes the job:
// the end state is a clean install's.
#include <gtest/gtest.h>

#include "fault_bed.h"
#include "sandbox.h"

namespace {

using faults::kPayloadNames;

class FullDisk : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (faults::SmallDrive().empty()) GTEST_SKIP() << "no small drive: " << faults::WhySmallDrivesMissing();
        // The state an undisturbed install reaches, to compare reruns with.
        faults::UseSmallDrive();
        faults::Outcome clean = faults::Run(" in");
        ASSERT_EQ(clean.exitCode, 0u);
        ASSERT_TRUE(clean.boxes.empty());
        cleanInstall_ = faults::State();
        faults::UseSmallDrive();
    }
    void TearDown() override
    {
        DeleteFileA(Ballast().c_str());
        DeleteFileA(WorkBallast().c_str());
        faults::UseSandboxProduct();
        sandbox::Clean();
    }

    static std::string Ballast() { return faults::SmallDrive() + "ballast"; }
    // Beside the work directory, on the same small temporary drive.
    static std::string WorkBallast() { return sandbox::WorkDir().substr(0, sandbox::WorkDir().size() - 7) + "ballast"; }

    // Each payload file is either whole or absent: never a partial copy.
    static int FilesInPlace()
    {
        const DWORD sizes[5] = {27133, 1364, 59577, 950208, 7486};
        int whole = 0;
        for (int i = 0; i < 5; ++i) {
            std::string path = faults::DictionaryDir() + kPayloadNames[i];
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) continue;
            EXPECT_EQ(data.nFileSizeLow, sizes[i]) << path << " left partial";
            if (data.nFileSizeLow == sizes[i]) ++whole;
        }
        return whole;
    }

    void MakeRoomAndRerun()
    {
        DeleteFileA(Ballast().c_str());
        DeleteFileA(WorkBallast().c_str());
        faults::Outcome rerun = faults::Run(" in");
        EXPECT_EQ(rerun.exitCode, 0u);
        EXPECT_TRUE(rerun.boxes.empty());
        EXPECT_EQ(faults::State(), cleanInstall_);
    }

    std::string cleanInstall_;
};

TEST_F(FullDisk, NoRoomForTheFirstFile)
{
    std::string before = faults::State();
    faults::FillLeaving(Ballast(), 0);
    faults::Outcome run = faults::Run(" in");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty()) << run.boxes.front();
    EXPECT_EQ(FilesInPlace(), 0);
    EXPECT_EQ(faults::State(), before) << "nothing registered without a file in place";
    MakeRoomAndRerun();
}

TEST_F(FullDisk, RoomForSomeFilesButNotAll)
{
    // Room for the four small files, not for vg.qd (950,208 bytes).
    std::string before = faults::State();
    faults::FillLeaving(Ballast(), 160 * 1024);
    faults::Outcome run = faults::Run(" in");
    EXPECT_EQ(run.exitCode, 1u) << "a module left incomplete is no success";
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(FilesInPlace(), 0);
    EXPECT_EQ(faults::State(), before) << "a fresh install that fails leaves nothing";
    MakeRoomAndRerun();
}

TEST_F(FullDisk, AnUpdateThatRunsOutOfRoomKeepsTheOldVersion)
{
    // The module installed and registered, its files an older version's.
    ASSERT_EQ(faults::Run(" in").exitCode, 0u);
    for (const char *name : kPayloadNames) testbed::WriteOldFile(faults::DictionaryDir() + name, "old version");
    std::string before = faults::State();
    faults::FillLeaving(Ballast(), 160 * 1024);
    faults::Outcome run = faults::Run(" in");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(faults::State(), before) << "every file the old one, configuration, registry and flag unchanged";
    for (const char *name : kPayloadNames)
        EXPECT_EQ(sandbox::ReadFileBytes(faults::DictionaryDir() + name), "old version") << name;
    MakeRoomAndRerun();
}

TEST_F(FullDisk, NoRoomForTheConfigurationFile)
{
    // The files are in place already and newer than the payload's, so the
    // run needs room only for quorin.cfg, which grows past its page.
    ASSERT_EQ(faults::Run(" in").exitCode, 0u);
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME later;
    SystemTimeToFileTime(&now, &later);
    for (const char *name : kPayloadNames) {
        HANDLE file = CreateFileA((faults::DictionaryDir() + name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        SetFileTime(file, nullptr, nullptr, &later);
        CloseHandle(file);
    }
    std::string cfg = faults::ConfigPath();
    // 4,090 bytes: one page of the drive, and the module's lines add 19.
    const std::string head = "[Options]\r\nFontSize=10\r\nPadding=";
    const std::string tail = "\r\n[Languages]\r\nTranLangs=ER\r\nLanguage1=English\r\nLanguage2=Russian\r\n";
    std::string padding(4090 - head.size() - tail.size(), 'x');
    sandbox::WriteTextFile(cfg, head + padding + tail);
    std::string original = sandbox::ReadFileBytes(cfg);
    faults::FillLeaving(Ballast(), 0);
    faults::Outcome run = faults::Run(" in");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    // Rewritten on a full disk the file would be cut at its page, taking
    // the end of its last section with it: it is not touched, and neither
    // is the registry's copy of its lists.
    EXPECT_EQ(sandbox::ReadFileBytes(cfg), original);
    EXPECT_EQ(FilesInPlace(), 5);
    DeleteFileA(Ballast().c_str());
    faults::Outcome rerun = faults::Run(" in");
    EXPECT_EQ(rerun.exitCode, 0u);
    EXPECT_EQ(sandbox::ReadIni(cfg, "Languages", "TranLangs"), "ERG");
    EXPECT_EQ(sandbox::ReadIni(cfg, "Languages", "Language3"), "German");
    EXPECT_EQ(sandbox::ReadIni(cfg, "Options", "Padding"), padding);
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(sandbox::ReadRegistry(sandbox::kOptionsKey, "Language3", &type, &data));
    EXPECT_EQ(data, std::string("German\0\0", 8));
}

TEST_F(FullDisk, NoRoomForTheArchive)
{
    faults::FillLeaving(WorkBallast(), 0);
    std::string before = faults::State();
    faults::Outcome run = faults::Run(" in");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0], "ExpandResource error.");
    EXPECT_EQ(FilesInPlace(), 0);
    EXPECT_EQ(faults::State(), before);
    MakeRoomAndRerun();
}

}  // namespace
