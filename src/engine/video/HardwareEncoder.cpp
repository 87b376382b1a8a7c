#include "engine/video/HardwareEncoder.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/CodecLock.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/LibraryReason.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace mobivert::engine {

namespace {

struct Candidate {
    AVHWDeviceType Type;
    std::string Encoder;   // "h264_vaapi"
    AVPixelFormat Format;  // the pictures' format in the device's memory
    std::string Device;    // the device node, empty for the type's default device
    std::string Described; // "VAAPI on /dev/dri/renderD128"
};

// The step the test switch makes fail, or empty.
std::string ForcedFault() {
    const char* fault = std::getenv("MOBIVERT_HARDWARE_FAULT");
    return fault ? fault : "";
}

std::vector<std::string> RenderNodes() {
    std::vector<std::string> nodes;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec))
        if (entry.path().filename().string().rfind("renderD", 0) == 0)
            nodes.push_back(entry.path().string());
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

// The devices this machine shows, for the codec ("h264" or "hevc"). Devices are only tried
// where their files exist, so that a machine without them logs no library errors. Under the
// test switch a VAAPI device is taken to exist.
std::vector<Candidate> Candidates(const std::string& codec) {
    std::vector<Candidate> found;
    std::vector<std::string> nodes = RenderNodes();
    if (nodes.empty() && !ForcedFault().empty())
        nodes.push_back("/dev/dri/renderD128");
    for (const std::string& node : nodes)
        found.push_back(
            {AV_HWDEVICE_TYPE_VAAPI, codec + "_vaapi", AV_PIX_FMT_VAAPI, node, "VAAPI on " + node});
    std::error_code ec;
    if (std::filesystem::exists("/dev/nvidia0", ec))
        found.push_back(
            {AV_HWDEVICE_TYPE_CUDA, codec + "_nvenc", AV_PIX_FMT_CUDA, "", "an NVIDIA device"});
    if (!RenderNodes().empty())
        found.push_back(
            {AV_HWDEVICE_TYPE_QSV, codec + "_qsv", AV_PIX_FMT_QSV, "", "Intel Quick Sync"});
    return found;
}

// What one attempt holds; freed unless the attempt succeeds and hands it over.
struct Attempt {
    AVBufferRef* Device = nullptr;
    AVBufferRef* Frames = nullptr;
    AVCodecContext* Encoder = nullptr;
    ~Attempt() {
        av::avcodec_free_context(&Encoder);
        av::av_buffer_unref(&Frames);
        av::av_buffer_unref(&Device);
    }
};

std::string LibraryText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av::av_strerror(error, text, sizeof text);
    return text;
}

bool CreateDevice(const Candidate& c, Attempt& a, std::string& why) {
    if (ForcedFault() == "device") {
        why = "the device could not be created (a fault forced for tests)";
        return false;
    }
    if (!ForcedFault().empty())
        return true; // the later step under test is reached without a device
    int ret = av::av_hwdevice_ctx_create(&a.Device, c.Type,
                                         c.Device.empty() ? nullptr : c.Device.c_str(), nullptr, 0);
    if (ret < 0)
        why = "the device could not be created: " + LibraryText(ret);
    return ret >= 0;
}

// The device's picture pool at the encoder's size, and one picture uploaded into it.
bool MakePictures(const Candidate& c, const AVCodecContext* software, Attempt& a,
                  std::string& why) {
    const std::string fault = ForcedFault();
    if (fault == "upload") {
        why = "no picture could be uploaded to the device (a fault forced for tests)";
        return false;
    }
    if (!fault.empty())
        return true;
    a.Frames = av::av_hwframe_ctx_alloc(a.Device);
    if (!a.Frames) {
        why = "the device gave no picture pool";
        return false;
    }
    auto* frames = reinterpret_cast<AVHWFramesContext*>(a.Frames->data);
    frames->format = c.Format;
    frames->sw_format = software->pix_fmt;
    frames->width = software->width;
    frames->height = software->height;
    frames->initial_pool_size = 20;
    int ret = av::av_hwframe_ctx_init(a.Frames);
    AVFrame* local = ret >= 0 ? av::av_frame_alloc() : nullptr;
    AVFrame* remote = local ? av::av_frame_alloc() : nullptr;
    if (remote) {
        local->format = software->pix_fmt;
        local->width = software->width;
        local->height = software->height;
        ret = av::av_frame_get_buffer(local, 0);
        if (ret >= 0)
            ret = av::av_hwframe_get_buffer(a.Frames, remote, 0);
        if (ret >= 0)
            ret = av::av_hwframe_transfer_data(remote, local, 0);
    } else if (ret >= 0) {
        ret = AVERROR(ENOMEM);
    }
    av::av_frame_free(&remote);
    av::av_frame_free(&local);
    if (ret < 0)
        why = "no picture could be uploaded to the device: " + LibraryText(ret);
    return ret >= 0;
}

// The software encoder's quality number ("crf"), or -1 when it codes at a bit rate.
double ConstantQuality(const AVCodecContext* software) {
    if (software->bit_rate > 0 || !software->priv_data)
        return -1;
    uint8_t* text = nullptr;
    double quality = -1;
    if (av::av_opt_get(software->priv_data, "crf", 0, &text) >= 0 && text)
        quality = std::atof(reinterpret_cast<const char*>(text));
    av::av_freep(&text);
    return quality;
}

void CopySettings(const AVCodecContext* software, AVCodecContext* hardware) {
    hardware->width = software->width;
    hardware->height = software->height;
    hardware->time_base = software->time_base;
    hardware->framerate = software->framerate;
    hardware->sample_aspect_ratio = software->sample_aspect_ratio;
    hardware->bit_rate = software->bit_rate;
    hardware->rc_max_rate = software->rc_max_rate;
    hardware->rc_buffer_size = software->rc_buffer_size;
    hardware->gop_size = software->gop_size;
    hardware->flags |= software->flags & AV_CODEC_FLAG_GLOBAL_HEADER;
    hardware->codec_tag = software->codec_tag;
    hardware->color_primaries = software->color_primaries;
    hardware->color_trc = software->color_trc;
    hardware->colorspace = software->colorspace;
    hardware->color_range = software->color_range;
    // Constant quality: the number the software encoder would have used, in each encoder's
    // own terms (a fixed quantiser for VAAPI, NVENC's constant quality, QSV's global quality).
    const double quality = ConstantQuality(software);
    if (quality >= 0) {
        hardware->global_quality = static_cast<int>(quality);
        if (hardware->priv_data)
            av::av_opt_set_double(hardware->priv_data, "cq", quality, 0);
    }
}

bool OpenEncoder(const Candidate& c, const AVCodecContext* software, Attempt& a, std::string& why) {
    const AVCodec* codec = av::avcodec_find_encoder_by_name(c.Encoder.c_str());
    if (!codec) {
        why = "the libraries have no " + c.Encoder + " encoder";
        return false;
    }
    a.Encoder = av::avcodec_alloc_context3(codec);
    if (!a.Encoder) {
        why = "no encoder context";
        return false;
    }
    CopySettings(software, a.Encoder);
    a.Encoder->pix_fmt = c.Format;
    if (a.Frames && !(a.Encoder->hw_frames_ctx = av::av_buffer_ref(a.Frames))) {
        why = "no encoder context";
        return false;
    }
    LibraryReason reason;
    int ret;
    {
        std::lock_guard lock(CodecLock());
        ret = av::avcodec_open2(a.Encoder, codec, nullptr);
    }
    if (ret >= 0 && ForcedFault() == "open")
        ret = AVERROR(EINVAL); // a device that took it after all still fails under the switch
    if (ret < 0)
        why = "the encoder could not be opened: " + reason.Explain(LibraryText(ret));
    return ret >= 0;
}

// The opened hardware encoder becomes the stream's; the software one is freed by its owner's
// list, in which the hardware one takes its place.
void HandOver(TCustomFFmpeg& s, OutputStream& ost, Attempt& a) {
    std::vector<AVCodecContext*>& owned = s.OutputEncoders[ost.FileIndex];
    std::replace(owned.begin(), owned.end(), ost.Enc, a.Encoder);
    ost.SoftwarePictureFormat = ost.Enc->pix_fmt;
    av::avcodec_free_context(&ost.Enc);
    ost.Enc = a.Encoder;
    a.Encoder = nullptr;
    ost.HardwareFrames = a.Frames;
    a.Frames = nullptr;
    s.OpenEncoders.push_front(&ost);
}

} // namespace

bool OpenHardwareEncoder(TCustomFFmpeg& s, OutputStream& ost) {
    const AVCodecContext* software = ost.Enc;
    const char* codec = software->codec_id == AV_CODEC_ID_H264   ? "h264"
                        : software->codec_id == AV_CODEC_ID_HEVC ? "hevc"
                                                                 : nullptr;
    if (!codec || software->codec_type != AVMEDIA_TYPE_VIDEO)
        return false;
    const std::string softwareName = software->codec ? software->codec->name : codec;
    std::vector<Candidate> candidates = Candidates(codec);
    if (candidates.empty()) {
        s.Log(1, "No hardware encoder: this machine shows no VAAPI render node and no NVIDIA "
                 "device; the video is coded by " +
                     softwareName);
        return false;
    }
    std::string reasons;
    for (const Candidate& c : candidates) {
        Attempt a;
        std::string why;
        if (CreateDevice(c, a, why) && MakePictures(c, software, a, why) &&
            OpenEncoder(c, software, a, why)) {
            s.Log(1, "The video is coded by the hardware encoder " + c.Encoder + " (" +
                         c.Described + ")");
            HandOver(s, ost, a);
            return true;
        }
        reasons += (reasons.empty() ? "" : "; ") + c.Encoder + " (" + c.Described + "): " + why;
    }
    s.Log(1,
          "Hardware encoding is not used (" + reasons + "); the video is coded by " + softwareName);
    return false;
}

AVFrame* UploadedPicture(OutputStream& ost, const AVFrame* picture) {
    if (!ost.HardwarePicture && !(ost.HardwarePicture = av::av_frame_alloc()))
        throw FFMpegException("av_mallocz fail");
    AVFrame* uploaded = ost.HardwarePicture;
    av::av_frame_unref(uploaded);
    LibraryReason reason;
    if (av::av_hwframe_get_buffer(ost.HardwareFrames, uploaded, 0) < 0 ||
        av::av_hwframe_transfer_data(uploaded, picture, 0) < 0 ||
        av::av_frame_copy_props(uploaded, picture) < 0)
        throw FFMpegException(reason.Explain("Video encoding failed: a picture could not be "
                                             "uploaded to the hardware encoder"));
    return uploaded;
}

} // namespace mobivert::engine
