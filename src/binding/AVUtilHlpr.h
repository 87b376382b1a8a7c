#pragma once
// Entry table of libavutil.

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
}

#include "binding/EntryTable.h"

#define MOBIVERT_AVUTIL_ENTRIES(X)                                                                 \
    X(avutil_version)                                                                              \
    X(av_log)                                                                                      \
    X(av_vlog)                                                                                     \
    X(av_log_set_callback)                                                                         \
    X(av_log_default_callback)                                                                     \
    X(av_log_get_level)                                                                            \
    X(av_log_set_level)                                                                            \
    X(av_log_format_line2)                                                                         \
    X(av_default_item_name)                                                                        \
    X(av_strlcpy)                                                                                  \
    X(av_strstart)                                                                                 \
    X(av_strdup)                                                                                   \
    X(av_strerror)                                                                                 \
    X(av_malloc)                                                                                   \
    X(av_mallocz)                                                                                  \
    X(av_realloc)                                                                                  \
    X(av_realloc_array)                                                                            \
    X(av_free)                                                                                     \
    X(av_freep)                                                                                    \
    X(av_reduce)                                                                                   \
    X(av_gcd)                                                                                      \
    X(av_d2q)                                                                                      \
    X(av_nearer_q)                                                                                 \
    X(av_find_nearest_q_idx)                                                                       \
    X(av_rescale)                                                                                  \
    X(av_rescale_rnd)                                                                              \
    X(av_rescale_q)                                                                                \
    X(av_rescale_q_rnd)                                                                            \
    X(av_compare_ts)                                                                               \
    X(av_gettime)                                                                                  \
    X(av_gettime_relative)                                                                         \
    X(av_parse_time)                                                                               \
    X(av_parse_video_size)                                                                         \
    X(av_parse_video_rate)                                                                         \
    X(av_opt_find)                                                                                 \
    X(av_opt_next)                                                                                 \
    X(av_opt_set)                                                                                  \
    X(av_opt_set_int)                                                                              \
    X(av_opt_set_double)                                                                           \
    X(av_opt_set_q)                                                                                \
    X(av_opt_set_bin)                                                                              \
    X(av_opt_set_defaults)                                                                         \
    X(av_opt_get)                                                                                  \
    X(av_opt_get_int)                                                                              \
    X(av_opt_get_q)                                                                                \
    X(av_opt_copy)                                                                                 \
    X(av_dict_set)                                                                                 \
    X(av_dict_get)                                                                                 \
    X(av_dict_copy)                                                                                \
    X(av_dict_count)                                                                               \
    X(av_dict_free)                                                                                \
    X(av_frame_alloc)                                                                              \
    X(av_hwdevice_ctx_create)                                                                      \
    X(av_hwframe_ctx_alloc)                                                                        \
    X(av_hwframe_ctx_init)                                                                         \
    X(av_hwframe_get_buffer)                                                                       \
    X(av_hwframe_transfer_data)                                                                    \
    X(av_frame_free)                                                                               \
    X(av_frame_unref)                                                                              \
    X(av_frame_ref)                                                                                \
    X(av_frame_get_buffer)                                                                         \
    X(av_frame_make_writable)                                                                      \
    X(av_frame_copy)                                                                               \
    X(av_frame_copy_props)                                                                         \
    X(av_frame_move_ref)                                                                           \
    X(av_frame_remove_side_data)                                                                   \
    X(av_display_rotation_get)                                                                     \
    X(av_frame_is_writable)                                                                        \
    X(av_buffer_alloc)                                                                             \
    X(av_buffer_ref)                                                                               \
    X(av_buffer_unref)                                                                             \
    X(av_buffer_is_writable)                                                                       \
    X(av_image_check_size2)                                                                        \
    X(av_image_alloc)                                                                              \
    X(av_image_fill_arrays)                                                                        \
    X(av_image_fill_linesizes)                                                                     \
    X(av_image_get_buffer_size)                                                                    \
    X(av_image_copy)                                                                               \
    X(av_get_pix_fmt)                                                                              \
    X(av_get_pix_fmt_name)                                                                         \
    X(av_get_pix_fmt_string)                                                                       \
    X(av_pix_fmt_desc_get)                                                                         \
    X(av_pix_fmt_count_planes)                                                                     \
    X(av_get_sample_fmt)                                                                           \
    X(av_get_sample_fmt_name)                                                                      \
    X(av_get_sample_fmt_string)                                                                    \
    X(av_get_packed_sample_fmt)                                                                    \
    X(av_get_bytes_per_sample)                                                                     \
    X(av_sample_fmt_is_planar)                                                                     \
    X(av_samples_get_buffer_size)                                                                  \
    X(av_samples_set_silence)                                                                      \
    X(av_channel_layout_default)                                                                   \
    X(av_channel_layout_from_mask)                                                                 \
    X(av_channel_layout_copy)                                                                      \
    X(av_channel_layout_compare)                                                                   \
    X(av_channel_layout_describe)                                                                  \
    X(av_channel_layout_uninit)                                                                    \
    X(av_fifo_alloc2)                                                                              \
    X(av_fifo_grow2)                                                                               \
    X(av_fifo_write)                                                                               \
    X(av_fifo_read)                                                                                \
    X(av_fifo_can_read)                                                                            \
    X(av_fifo_reset2)                                                                              \
    X(av_fifo_freep2)                                                                              \
    X(av_audio_fifo_alloc)                                                                         \
    X(av_audio_fifo_free)                                                                          \
    X(av_audio_fifo_write)                                                                         \
    X(av_audio_fifo_read)                                                                          \
    X(av_audio_fifo_size)                                                                          \
    X(av_get_picture_type_char)                                                                    \
    X(av_get_media_type_string)                                                                    \
    X(av_usleep)

namespace av {
MOBIVERT_AVUTIL_ENTRIES(MOBIVERT_DECLARE_ENTRY)
}

namespace mobivert::binding {
LibraryBinder& AVUtilBinder();
}
