#pragma once
// Entry table of libavformat.

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
}

#include "binding/EntryTable.h"

#define MOBIVERT_AVFORMAT_ENTRIES(X)                                                               \
    X(avformat_version)                                                                            \
    X(avformat_alloc_context)                                                                      \
    X(avformat_free_context)                                                                       \
    X(avformat_get_class)                                                                          \
    X(avformat_alloc_output_context2)                                                              \
    X(avformat_open_input)                                                                         \
    X(avformat_close_input)                                                                        \
    X(avformat_find_stream_info)                                                                   \
    X(avformat_new_stream)                                                                         \
    X(av_stream_get_side_data)                                                                     \
    X(av_stream_new_side_data)                                                                     \
    X(avformat_write_header)                                                                       \
    X(avformat_init_output)                                                                        \
    X(avformat_query_codec)                                                                        \
    X(avformat_seek_file)                                                                          \
    X(av_write_trailer)                                                                            \
    X(av_interleaved_write_frame)                                                                  \
    X(av_write_frame)                                                                              \
    X(av_read_frame)                                                                               \
    X(av_seek_frame)                                                                               \
    X(av_read_pause)                                                                               \
    X(av_read_play)                                                                                \
    X(av_find_input_format)                                                                        \
    X(av_probe_input_buffer2)                                                                      \
    X(av_guess_format)                                                                             \
    X(av_guess_codec)                                                                              \
    X(av_guess_frame_rate)                                                                         \
    X(av_guess_sample_aspect_ratio)                                                                \
    X(av_find_best_stream)                                                                         \
    X(avformat_index_get_entries_count)                                                            \
    X(avformat_index_get_entry)                                                                    \
    X(av_find_program_from_stream)                                                                 \
    X(av_filename_number_test)                                                                     \
    X(av_codec_get_id)                                                                             \
    X(av_codec_get_tag)                                                                            \
    X(av_demuxer_iterate)                                                                          \
    X(av_muxer_iterate)                                                                            \
    X(av_dump_format)                                                                              \
    X(av_sdp_create)                                                                               \
    X(av_pkt_dump_log2)                                                                            \
    X(av_hex_dump_log)                                                                             \
    X(avio_open)                                                                                   \
    X(avio_open2)                                                                                  \
    X(avio_close)                                                                                  \
    X(avio_closep)                                                                                 \
    X(avio_size)                                                                                   \
    X(avio_seek)                                                                                   \
    X(avio_read)                                                                                   \
    X(avio_feof)                                                                                   \
    X(avio_flush)                                                                                  \
    X(avio_write)                                                                                  \
    X(avio_check)                                                                                  \
    X(avio_alloc_context)                                                                          \
    X(avio_context_free)

namespace av {
MOBIVERT_AVFORMAT_ENTRIES(MOBIVERT_DECLARE_ENTRY)
}

namespace mobivert::binding {
LibraryBinder& AVFormatBinder();
}
