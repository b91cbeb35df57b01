#pragma once
// FFmpeg, loaded when a stream first needs it. Linking it outright would map
// some 150 libraries into every player (about 15 MB resident) although most
// stations send MP3, which libmpg123 decodes. The functions are looked up by
// name in the libraries whose major versions match the headers built with.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace tolvane::engine {

#define TOLVANE_FFMPEG_UTIL_FUNCTIONS(X)                                                           \
    X(av_channel_layout_compare)                                                                   \
    X(av_channel_layout_copy)                                                                      \
    X(av_channel_layout_default)                                                                   \
    X(av_channel_layout_uninit)                                                                    \
    X(av_dict_get)                                                                                 \
    X(av_frame_alloc)                                                                              \
    X(av_frame_free)                                                                               \
    X(av_frame_unref)                                                                              \
    X(av_free)                                                                                     \
    X(av_freep)                                                                                    \
    X(av_log_set_level)                                                                            \
    X(av_malloc)                                                                                   \
    X(av_mallocz)                                                                                  \
    X(av_strdup)                                                                                   \
    X(swr_alloc_set_opts2)                                                                         \
    X(swr_convert)                                                                                 \
    X(swr_free)                                                                                    \
    X(swr_get_out_samples)                                                                         \
    X(swr_init)

#define TOLVANE_FFMPEG_FORMAT_FUNCTIONS(X)                                                         \
    X(av_find_best_stream)                                                                         \
    X(av_find_input_format)                                                                        \
    X(av_write_frame)                                                                              \
    X(av_write_trailer)                                                                            \
    X(av_packet_alloc)                                                                             \
    X(av_packet_free)                                                                              \
    X(av_packet_unref)                                                                             \
    X(av_read_frame)                                                                               \
    X(avcodec_alloc_context3)                                                                      \
    X(avcodec_find_decoder)                                                                        \
    X(avcodec_free_context)                                                                        \
    X(avcodec_open2)                                                                               \
    X(avcodec_parameters_to_context)                                                               \
    X(avcodec_receive_frame)                                                                       \
    X(avcodec_send_packet)                                                                         \
    X(avformat_alloc_context)                                                                      \
    X(avformat_alloc_output_context2)                                                              \
    X(avformat_close_input)                                                                        \
    X(avformat_find_stream_info)                                                                   \
    X(avformat_free_context)                                                                       \
    X(avformat_new_stream)                                                                         \
    X(avformat_open_input)                                                                         \
    X(avformat_write_header)                                                                       \
    X(avio_alloc_context)                                                                          \
    X(avio_context_free)

struct FfmpegApi {
// `name` is a function's name, used as a declarator: it cannot be parenthesised.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define TOLVANE_FFMPEG_POINTER(name) decltype(&::name) name = nullptr;
    TOLVANE_FFMPEG_UTIL_FUNCTIONS(TOLVANE_FFMPEG_POINTER)
    TOLVANE_FFMPEG_FORMAT_FUNCTIONS(TOLVANE_FFMPEG_POINTER)
#undef TOLVANE_FFMPEG_POINTER
    bool utilLoaded = false;    // avutil and swresample
    bool formatsLoaded = false; // avformat and avcodec as well
};

// The resampler's part (libavutil, libswresample); nullptr when missing.
const FfmpegApi* ffmpegResampler();
// Everything (demuxers, decoders and muxers too); nullptr when missing.
const FfmpegApi* ffmpegFormats();

} // namespace tolvane::engine
