// Hardware encoders for MP4 H.264 and H.265: on machines without a device, and with a fault
// forced at each step (device, picture upload, encoder open), every conversion falls back to
// the software encoder with one log line that names the step, and the output is a correct
// software encode (playable by GStreamer, the preset's codec, the source's length).
// --hardware off tries nothing.

#include "support/CliPipe.h"
#include "support/MediaInfo.h"
#include "support/PictureReader.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace mobivert::test;

namespace {

bool MachineHasDevices() {
    std::error_code ec;
    return std::filesystem::exists("/dev/dri", ec) || std::filesystem::exists("/dev/nvidia0", ec);
}

} // namespace

TEST(HardwareEncodingTest, EveryStepThatFailsFallsBackToTheSoftwareEncoder) {
    struct Case {
        const char* Fault; // MOBIVERT_HARDWARE_FAULT, empty for none
        const char* Preset;
        const char* Options;
        const char* Codec; // MediaInfo's video format
        const char* Line;  // in the log; empty: no hardware line at all
    };
    const std::vector<Case> cases{
        {"device", "22", "", "AVC",
         "Hardware encoding is not used (h264_vaapi (VAAPI on /dev/dri/renderD128): the device "
         "could not be created (a fault forced for tests)); the video is coded by libx264"},
        {"upload", "22", "", "AVC",
         "h264_vaapi (VAAPI on /dev/dri/renderD128): no picture could be uploaded to the device"},
        // The encoder's open is the library's own: without a device it refuses.
        {"open", "22", "", "AVC",
         "h264_vaapi (VAAPI on /dev/dri/renderD128): the encoder could "
         "not be opened"},
        {"open", "23", "", "HEVC",
         "hevc_vaapi (VAAPI on /dev/dri/renderD128): the encoder could "
         "not be opened"},
        {"", "23", "", "HEVC", MachineHasDevices() ? "" : "No hardware encoder"},
        {"device", "22", "--hardware off", "AVC", ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::string log;
        const int status = mobivert::test::RunCliThroughShell(
            std::string("env MOBIVERT_HARDWARE_FAULT=") + c.Fault +
                " XDG_CONFIG_HOME=" + dir.File("cfg") + " XDG_STATE_HOME=" + dir.File("state"),
            std::string("-v -p ") + c.Preset + " " + c.Options + " -o " +
                ShellQuoted(dir.File("out")) + " " + ShellQuoted(Fixture("sample.mp4")),
            true, log);
        const std::string what = std::string(c.Fault) + " " + c.Preset + " " + c.Options;
        ASSERT_EQ(status, 0) << what << "\n" << log;
        const std::string out =
            dir.File(std::string("out/sample (MP4 ") +
                     (c.Codec == std::string("AVC") ? "H.264" : "H.265") + ").mp4");
        EXPECT_TRUE(mobivert::test::PlaysInGStreamer(out)) << what;
        EXPECT_EQ(MediaInfoText(out, "Video;%Format%"), c.Codec) << what;
        EXPECT_NEAR(std::atof(MediaInfoText(out, "General;%Duration%").c_str()) / 1000.0, 3.0, 0.15)
            << what;
        if (*c.Line) {
            EXPECT_NE(log.find(c.Line), std::string::npos) << what << "\n" << log;
        } else if (!MachineHasDevices() || *c.Options) {
            EXPECT_EQ(log.find("ardware encod"), std::string::npos) << what << "\n" << log;
        }
        EXPECT_EQ(log.find("Failed"), std::string::npos) << what << "\n" << log;
    }
}
