// The render tool's own look at content: which SFZ samples play, the names --set takes, and
// how the plug-in's console lines are read.
#include "ContentCheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace corvane::render;

TEST(ContentCheck, SfzSummaryFindsWhatTheReaderSkipsSilently) {
    const SfzSummary s = summariseSfz(
        "// sample=before.flac in a comment before any region is never read\n"
        "<group> sample=group.ogg\n"
        "<region> sample=a.wav lokey=1\n"
        "<region> sample=./sub/B.WAV\n"
        "<region> sample=../up/c.Wav sample=second.flac\n"
        "<region>sample=Pad C4.ogg\n"
        "<region> sample=noextension\n"
        "<region> sample=short.wa");
    EXPECT_EQ(s.regions, 6);
    ASSERT_EQ(s.unreadable.size(), 4u);
    EXPECT_EQ(s.unreadable[0].region, 3);
    EXPECT_EQ(s.unreadable[0].sample, "second.flac");
    EXPECT_EQ(s.unreadable[0].extension, "FLAC");
    EXPECT_EQ(s.unreadable[1].region, 4);
    EXPECT_EQ(s.unreadable[1].sample, "Pad C4.ogg");
    EXPECT_EQ(s.unreadable[1].extension, "OGG");
    EXPECT_EQ(s.unreadable[2].region, 5);
    EXPECT_EQ(s.unreadable[2].sample, "noextension");
    EXPECT_EQ(s.unreadable[2].extension, "");
    // Three letters must follow the dot; the end of the text is not one.
    EXPECT_EQ(s.unreadable[3].region, 6);
    EXPECT_EQ(s.unreadable[3].extension, "WA");

    EXPECT_EQ(summariseSfz("").regions, 0);
    EXPECT_EQ(summariseSfz("<group> sample=a.wav\n<control> default_path=x/\n").regions, 0);
    EXPECT_TRUE(summariseSfz("<region> sample=a.wav\n").unreadable.empty());
}

TEST(ContentCheck, SharedParameterNamesGetTheirSlot) {
    const std::vector<std::string> names = {"Cutoff",  "Reserved", "Reserved",
                                            "ModSrc1", "ModSrc1",  "Volume"};
    const std::vector<std::string> unique = uniqueParamNames(names);
    EXPECT_EQ(unique, (std::vector<std::string>{"Cutoff", "Reserved#1", "Reserved#2", "ModSrc1#3",
                                                "ModSrc1#4", "Volume"}));
    std::string error;
    EXPECT_EQ(findParam(names, unique, "Cutoff", error), 0);
    EXPECT_EQ(findParam(names, unique, "5", error), 5);
    EXPECT_EQ(findParam(names, unique, "0", error), 0);
    EXPECT_EQ(findParam(names, unique, "Reserved#2", error), 2);
    EXPECT_EQ(findParam(names, unique, "ModSrc1#4", error), 4);
    // A slot number after a name no other slot shares, when it is that name's slot.
    EXPECT_EQ(findParam(names, unique, "Volume#5", error), 5);

    const std::vector<std::string> bad = {"Reserved", "Reserved#3", "Volume#4", "6",
                                          "99999999", "cutoff",     "",         "ModSrc1#"};
    for (const std::string& key : bad) {
        error.clear();
        EXPECT_EQ(findParam(names, unique, key, error), -1) << key;
        EXPECT_FALSE(error.empty()) << key;
    }
    findParam(names, unique, "Reserved", error);
    EXPECT_NE(error.find("Reserved#1, Reserved#2"), std::string::npos) << error;
    findParam(names, unique, "6", error);
    EXPECT_NE(error.find("0..5"), std::string::npos) << error;
    findParam({}, {}, "0", error);
    EXPECT_NE(error.find("no parameters"), std::string::npos) << error;
}

TEST(ContentCheck, ConsoleLinesAndPaths) {
    EXPECT_EQ(splitLines("Error: a\r\n\nREX Error: b\nlast"),
              (std::vector<std::string>{"Error: a", "REX Error: b", "last"}));
    EXPECT_TRUE(isErrorLine("Error: File not found (x.wav)"));
    EXPECT_TRUE(isErrorLine("REX Error: The REX DLL could not be found."));
    EXPECT_FALSE(isErrorLine("Error without a caption"));
    EXPECT_FALSE(isErrorLine("note: Error: inside the text"));
    EXPECT_FALSE(isErrorLine("ALSA lib pcm.c:2666: Unknown PCM"));
    // Stored paths are written with backslashes whatever the system.
    const std::string shown = withOsSeparators("File not found (\\tmp\\kit\\a.wav)");
    const std::string path = osPathOf("\\tmp\\kit\\", "kit.sfz");
    if (std::filesystem::path::preferred_separator == '/') {
        EXPECT_EQ(shown, "File not found (/tmp/kit/a.wav)");
        EXPECT_EQ(path, "/tmp/kit/kit.sfz");
    } else {
        EXPECT_EQ(shown, "File not found (\\tmp\\kit\\a.wav)");
        EXPECT_EQ(path, "\\tmp\\kit\\kit.sfz");
    }
}
