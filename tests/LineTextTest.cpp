// Values kept to one line, whole writes, and the stored fields read back by generation.

#include "converter/LineText.h"
#include "app/shared/BatchJournal.h"
#include "app/shared/UserPresets.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

using mobivert::converter::Escape;
using mobivert::converter::Unescape;
using mobivert::converter::WriteAll;

TEST(LineText, EscapedValuesComeBackAndWhatEscapeNeverWritesIsTold) {
    for (const std::string value :
         {"plain", "a\\b", "two\nlines", "tab\there", "cr\r", "\\n", "", "ends with \\"}) {
        const std::string escaped = Escape(value);
        EXPECT_EQ(escaped.find_first_of("\n\r\t"), std::string::npos) << escaped;
        std::string back;
        EXPECT_TRUE(Unescape(escaped, back)) << escaped;
        EXPECT_EQ(back, value);
    }
    // Hand-edited text: the strict answer is false, the text is still taken as it comes.
    for (const auto& [text, lenient] : std::vector<std::pair<std::string, std::string>>{
             {"a\\qb", "aqb"}, {"end\\", "end\\"}, {"\\", "\\"}}) {
        std::string out;
        EXPECT_FALSE(Unescape(text, out)) << text;
        EXPECT_EQ(out, lenient);
        EXPECT_EQ(Unescape(text), lenient);
    }
}

TEST(LineText, WholeWritesGoToPipesAndSocketsAndAGoneReaderIsAnErrorNotASignal) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const std::string text(3000, 'x');
    EXPECT_TRUE(WriteAll(pipeEnds[1], text));
    std::string read(text.size(), '\0');
    EXPECT_EQ(::read(pipeEnds[0], read.data(), read.size()), static_cast<ssize_t>(text.size()));
    EXPECT_EQ(read, text);
    close(pipeEnds[0]);
    close(pipeEnds[1]);

    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    close(pair[1]);
    // A SIGPIPE would end the test program here.
    EXPECT_FALSE(WriteAll(pair[0], "to nobody\n"));
    close(pair[0]);
}

// A journal or preset of an earlier program lacks the keys added after it, and only those.
TEST(StoredFields, OlderFilesLackWholeGenerationsOnly) {
    using namespace mobivert::app;
    TJournalBatch batch;
    batch.Program = "mobivert-cli";
    batch.Settings.PresetText = "AVI Video (*.avi)";
    batch.Settings.OutputFolder = "/out";
    batch.Jobs = 2;
    batch.Files = {{"/in/a.mp4", "/out/a (AVI Video).avi", "", TJournalState::Pending}};
    TUserPreset preset;
    preset.Name = "Mine";
    preset.Format = "MP4 H.264 (*.mp4)";
    const std::string journal = FormatJournal(batch);
    const std::string presetText = FormatUserPreset(preset);
    auto without = [](std::string text, const std::vector<std::string>& keys) {
        for (const std::string& key : keys) {
            const size_t at = text.find("\n" + key + "=");
            text.erase(at + 1, text.find('\n', at + 1) - at);
        }
        return text;
    };
    const std::vector<std::string> targets{"target-size", "hardware"};
    std::vector<std::string> modern{"modern-channels", "modern-sample-rate", "modern-frame-rate",
                                    "modern-size",     "rate-control",       "quality"};
    std::vector<std::string> both = modern;
    both.insert(both.end(), targets.begin(), targets.end());
    TJournalBatch read;
    TUserPreset readPreset;
    std::string reason;
    struct Case {
        std::vector<std::string> Removed;
        bool JournalRead;
        bool PresetRead;
    };
    for (const Case& c : std::vector<Case>{{{}, true, true},
                                           {targets, true, true},
                                           {both, true, false},
                                           {modern, false, false},
                                           {{"hardware"}, false, false},
                                           {{"quality", "target-size", "hardware"}, false, false},
                                           {{"width"}, false, false}}) {
        std::string name = c.Removed.empty() ? "none" : c.Removed.front();
        EXPECT_EQ(ParseJournal(without(journal, c.Removed), read, reason), c.JournalRead)
            << name << " " << c.Removed.size() << ": " << reason;
        EXPECT_EQ(ParseUserPreset(without(presetText, c.Removed), readPreset, reason), c.PresetRead)
            << name << " " << c.Removed.size() << ": " << reason;
    }
    // A key no program wrote makes the file unreadable, whatever its generation.
    std::string extra = journal;
    extra.insert(extra.find("jobs="), "speed=1\n");
    EXPECT_FALSE(ParseJournal(extra, read, reason));
    EXPECT_FALSE(ParseUserPreset(presetText + "speed=1\n", readPreset, reason));
}
