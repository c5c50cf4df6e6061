// Binding the message library in this process against the sandbox product:
// the font, the icon, the seven entry points and the Unicode mode, and the
// release of all of it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "context/install_context.h"
#include "sandbox.h"
#include "testbed.h"
#include "ui/message_library.h"

namespace {

std::string ProductFile(const char *name) { return std::string(sandbox::kProductDir) + name; }

class MessageLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sandbox::Provision();
        ResetInstallContext();
        Handles() = RunHandles{};
        Handles().Instance = GetModuleHandleA(nullptr);
    }
    void TearDown() override
    {
        ReleaseRunHandles();
        sandbox::Clean();
    }
};

TEST_F(MessageLibraryTest, BindsFontIconAndAllSevenEntries)
{
    sandbox::WriteIni(ProductFile("q3msg.ini"), "Messages", "Unicode", "1");
    ASSERT_TRUE(BindMessageLibrary());
    const RunHandles &handles = Handles();
    ASSERT_NE(handles.MessageLibrary, nullptr);
    char loaded[MAX_PATH] = "";
    GetModuleFileNameA(handles.MessageLibrary, loaded, MAX_PATH);
    EXPECT_EQ(lstrcmpiA(loaded, ProductFile("q3msg.dll").c_str()), 0);

    const MessageLibraryEntries &entries = MessageLibrary();
    for (FARPROC entry : entries.Address)
        EXPECT_NE(entry, nullptr);
    EXPECT_EQ(entries.Address[kSetDlgItemTextN], GetProcAddress(handles.MessageLibrary, "SetDlgItemTextN"));
    EXPECT_EQ(entries.Address[kSetParamN], GetProcAddress(handles.MessageLibrary, "SetParamN"));
    EXPECT_TRUE(Install().WideText);

    // The stock GUI font, but Cyrillic and Arial.
    LOGFONTA stock{}, made{};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof stock, &stock);
    ASSERT_NE(handles.DialogFont, nullptr);
    ASSERT_EQ(GetObjectA(handles.DialogFont, sizeof made, &made), static_cast<int>(sizeof made));
    EXPECT_EQ(made.lfCharSet, RUSSIAN_CHARSET);
    EXPECT_STREQ(made.lfFaceName, "Arial");
    EXPECT_EQ(made.lfHeight, stock.lfHeight);
    EXPECT_EQ(made.lfWeight, stock.lfWeight);

    // The host application's own icon, in small size.
    ASSERT_NE(handles.ProductIcon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(handles.ProductIcon, &info));
    BITMAP mask{};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, GetSystemMetrics(SM_CXSMICON));
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);

    ReleaseRunHandles();
    EXPECT_EQ(Handles().MessageLibrary, nullptr);
    EXPECT_EQ(Handles().DialogFont, nullptr);
    EXPECT_EQ(Handles().ProductIcon, nullptr);
    EXPECT_EQ(MessageLibrary().SetDlgItemTextN(), nullptr);
    EXPECT_EQ(GetModuleHandleA(ProductFile("q3msg.dll").c_str()), nullptr);
}

TEST_F(MessageLibraryTest, AnsiLibraryLeavesWideTextClear)
{
    sandbox::WriteIni(ProductFile("q3msg.ini"), "Messages", "Unicode", "0");
    ASSERT_TRUE(BindMessageLibrary());
    EXPECT_FALSE(Install().WideText);
}

TEST_F(MessageLibraryTest, PartialLibraryBindsWithoutTheMissingEntries)
{
    ASSERT_TRUE(CopyFileA((sandbox::BinDir() + "q3msg_partial.dll").c_str(), ProductFile("q3msg.dll").c_str(),
                          FALSE));
    sandbox::WriteIni(ProductFile("q3msg.ini"), "Messages", "Unicode", "1");
    ASSERT_TRUE(BindMessageLibrary());
    EXPECT_EQ(MessageLibrary().SetDlgItemTextN(), nullptr);
    EXPECT_EQ(MessageLibrary().GetLangParamN(), nullptr);
    EXPECT_NE(MessageLibrary().Address[kSetWindowTextN], nullptr);
    EXPECT_FALSE(Install().WideText);
}

TEST_F(MessageLibraryTest, MissingLibraryStillMakesFontAndIcon)
{
    ASSERT_TRUE(DeleteFileA(ProductFile("q3msg.dll").c_str()));
    EXPECT_FALSE(BindMessageLibrary());
    EXPECT_EQ(Handles().MessageLibrary, nullptr);
    EXPECT_NE(Handles().DialogFont, nullptr);
    EXPECT_NE(Handles().ProductIcon, nullptr);
    EXPECT_EQ(MessageLibrary().GetLangParamN(), nullptr);
    EXPECT_FALSE(Install().WideText);
}

TEST_F(MessageLibraryTest, UnknownProductDirLoadsNothing)
{
    // A bare "q3msg.dll" would be found beside this test executable.
    sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "DefaultPath");
    ASSERT_TRUE(sandbox::FileExists(sandbox::BinDir() + "q3msg.dll"));
    EXPECT_FALSE(BindMessageLibrary());
    EXPECT_EQ(Handles().MessageLibrary, nullptr);
    EXPECT_EQ(GetModuleHandleA("q3msg.dll"), nullptr);
    EXPECT_NE(Handles().DialogFont, nullptr);
}

}  // namespace

namespace {

// The two entry points the program calls, through the program's own pointer
// types: each must leave the stack as it found it. A 32-bit convention slip
// is hidden by the callers' frame pointers and shows nowhere else.
TEST_F(MessageLibraryTest, TheCalledEntriesKeepTheirConvention)
{
    ASSERT_TRUE(BindMessageLibrary());
    const MessageLibraryEntries &entries = MessageLibrary();
    ASSERT_NE(entries.GetLangParamN(), nullptr);
    ASSERT_NE(entries.SetDlgItemTextN(), nullptr);
    EXPECT_EQ(testbed::StackDrift(entries.GetLangParamN(), 0, 0, 0), 0) << "GetLangParamN";
    EXPECT_EQ(testbed::StackDrift(entries.SetDlgItemTextN(), HWND{}, 0, 0, 0), 0) << "SetDlgItemTextN";
}

}  // namespace
