// The INI engine: private-profile reading and writing rules, and whole
// writes that never leave half a file.

#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::IniDocument;

namespace {

std::string Slurp(const std::string &path) {
    std::string bytes, error;
    return platform::ReadWholeFile(path, bytes, error) ? bytes : std::string();
}

TEST(IniDocument, ReadsNamesWithoutCaseAndBlanksAndTakesTheFirstOfAName) {
    const IniDocument ini = IniDocument::Parse(
        "; a comment\r\n[Page]\r\n  Page1 = 1.00,2.00 \r\nnot a key\r\npage1=second\r\n[page]\r\npage2=x\r\n");
    EXPECT_EQ(ini.Value("PAGE", "PAGE1"), "1.00,2.00");
    EXPECT_EQ(ini.Value("page", "page2"), std::nullopt) << "only the first section of a name is read";
    EXPECT_EQ(ini.Value("none", "page1"), std::nullopt);
    EXPECT_EQ(ini.GetString("page", "missing", "0.00,0.00,0.00,0.00", 50), "0.00,0.00,0.00,0.00");
    EXPECT_EQ(ini.GetString("page", "page1", "", 5), "1.00") << "a buffer of 5 holds 4 characters";
    EXPECT_EQ(ini.GetString("page", "page1", "", 0), "");
}

TEST(IniDocument, ReadsTheLeadingWholeNumberOfAnIntegerKey) {
    const IniDocument ini = IniDocument::Parse("[AutoShrink]\nflag=1\nb=12abc\nc=abc\nd=-3\ne=99999999999\n");
    EXPECT_EQ(ini.GetInt("autoshrink", "FLAG", 7), 1);
    EXPECT_EQ(ini.GetInt("AutoShrink", "b", 7), 12);
    EXPECT_EQ(ini.GetInt("AutoShrink", "c", 7), 0);
    EXPECT_EQ(ini.GetInt("AutoShrink", "d", 7), -3);
    EXPECT_EQ(ini.GetInt("AutoShrink", "e", 7), 2147483647);
    EXPECT_EQ(ini.GetInt("AutoShrink", "missing", 7), 7);
}

TEST(IniDocument, ASecondLineOfAKeyIsDroppedSoWhatIsHeldIsWhatIsWritten) {
    IniDocument ini = IniDocument::Parse("[PAGE]\npage1=a\npage1=b\n");
    EXPECT_EQ(ini.Value("PAGE", "page1"), "a");
    ini.Remove("PAGE", "page1");
    EXPECT_EQ(ini.Serialize(), "[PAGE]\n");
    EXPECT_EQ(IniDocument::Parse(ini.Serialize()).Value("PAGE", "page1"), std::nullopt);
}

TEST(IniDocument, WritesKeysAtTheEndOfTheirSectionAndKeepsEveryOtherLine) {
    IniDocument ini = IniDocument::Parse("top line\n[A]\n; note\nx=1\n\n[B]\ny=2\n");
    ini.Set("a", "Z", "3");   // after x, before the blank line
    ini.Set("A", "X", "10");  // replaced in place, spelling kept
    ini.Set("C", "k", "v");   // a new section at the end
    ini.Remove("b", "Y");     // its line goes
    ini.Remove("b", "missing");
    ini.Remove("missing", "y");
    EXPECT_EQ(ini.Serialize(), "top line\n[A]\n; note\nx=10\nZ=3\n\n[B]\n[C]\nk=v\n");
    ini.Set("B", "y", "again");
    EXPECT_EQ(ini.Value("B", "y"), "again");
    EXPECT_EQ(ini.Serialize(), "top line\n[A]\n; note\nx=10\nZ=3\n\n[B]\ny=again\n[C]\nk=v\n");
}

TEST(IniDocument, ThousandsOfKeysAreSetAndRemovedQuickly) {
    IniDocument ini;
    for (int round = 0; round < 3; ++round)
        for (int page = 1; page <= 20000; ++page)
            ini.Set("PAGE", "page" + std::to_string(page), std::to_string(round));
    for (int page = 1; page <= 20000; page += 2)
        ini.Remove("PAGE", "page" + std::to_string(page));
    EXPECT_EQ(ini.Value("PAGE", "page20000"), "2");
    EXPECT_EQ(ini.Value("PAGE", "page19999"), std::nullopt);
    // Removed and set again, as undo and redo of a whole document do.
    for (int round = 0; round < 3; ++round) {
        for (int page = 1; page <= 20000; ++page)
            ini.Remove("PAGE", "page" + std::to_string(page));
        for (int page = 1; page <= 20000; ++page)
            ini.Set("PAGE", "page" + std::to_string(page), "x");
    }
    std::string expected = "[PAGE]\n";
    for (int page = 1; page <= 20000; ++page)
        expected += "page" + std::to_string(page) + "=x\n";
    EXPECT_EQ(ini.Serialize(), expected);
    const IniDocument again = IniDocument::Parse(ini.Serialize());
    EXPECT_EQ(again.Serialize(), ini.Serialize());
}

TEST(AtomicWrite, ReplacesTheFileWholeAndLeavesNothingBesideIt) {
    const fs::path dir = fs::temp_directory_path() / ("orvane-ini-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "croprect.ini").string();
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(path, "[A]\nx=1\n", error)) << error;
    ASSERT_TRUE(platform::WriteFileAtomically(path, "[B]\n", error)) << error;
    EXPECT_EQ(Slurp(path), "[B]\n");
    std::string bytes;
    ASSERT_TRUE(platform::ReadWholeFile(path, bytes, error));
    EXPECT_EQ(bytes, "[B]\n");
    ASSERT_TRUE(platform::ReadWholeFile((dir / "missing.ini").string(), bytes, error)) << "missing reads as empty";
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    if (::geteuid() != 0) {  // the superuser writes anywhere
        ::chmod(dir.c_str(), 0500);
        EXPECT_FALSE(platform::WriteFileAtomically(path, "new", error));
        EXPECT_NE(error.find(dir.string()), std::string::npos) << error;
        ::chmod(dir.c_str(), 0700);
        EXPECT_EQ(Slurp(path), "[B]\n") << "a failed write keeps the old file";
    }
    fs::remove_all(dir);
}

}  // namespace
