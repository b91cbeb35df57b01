#pragma once
// What the decoders share: conversion to the output format, and the reason an
// opening failed. Private to the engine's decoders.

#include "Decoder.h"

#include "Engine.h"
#include "FfmpegApi.h"
#include "Output.h"
#include <functional>

#include <memory>
#include <vector>

namespace tolvane::engine {

// Converts decoded audio to the output format; passes it through untouched
// when it already is 44100 Hz stereo 16-bit interleaved.
class Converter {
public:
    ~Converter() {
        if (api_) {
            api_->swr_free(&swr_);
            api_->av_channel_layout_uninit(&layout_);
        }
    }

    // Interleaved 16-bit audio (what libmpg123 gives). Needs no FFmpeg when
    // it is 44100 Hz stereo already.
    bool convertS16(const std::int16_t* samples, int frames, int rate, int channels,
                    const PcmSink& sink) {
        if (frames <= 0)
            return true;
        if (rate == kOutputRate && channels == 2)
            return sink(samples, static_cast<std::size_t>(frames));
        if (!load())
            return false;
        AVChannelLayout layout{};
        api_->av_channel_layout_default(&layout, channels);
        const std::uint8_t* planes[1] = {reinterpret_cast<const std::uint8_t*>(samples)};
        const bool ok = convert(planes, frames, rate, layout, AV_SAMPLE_FMT_S16, sink);
        api_->av_channel_layout_uninit(&layout);
        return ok;
    }

    // Returns false when the input format cannot be converted.
    bool convert(const std::uint8_t* const* planes, int samples, int rate,
                 const AVChannelLayout& layout, AVSampleFormat fmt, const PcmSink& sink) {
        if (samples <= 0)
            return true;
        if (rate == kOutputRate && layout.nb_channels == 2 && fmt == AV_SAMPLE_FMT_S16) {
            return sink(reinterpret_cast<const std::int16_t*>(planes[0]),
                        static_cast<std::size_t>(samples));
        }
        if (!load())
            return false;
        if (!swr_ || rate != rate_ || fmt != fmt_ ||
            api_->av_channel_layout_compare(&layout, &layout_)) {
            api_->swr_free(&swr_);
            api_->av_channel_layout_uninit(&layout_);
            AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
            AVChannelLayout in{};
            api_->av_channel_layout_copy(&in, &layout);
            const int rc = api_->swr_alloc_set_opts2(&swr_, &stereo, AV_SAMPLE_FMT_S16, kOutputRate,
                                                     &in, fmt, rate, 0, nullptr);
            api_->av_channel_layout_uninit(&in);
            if (rc < 0 || api_->swr_init(swr_) < 0) {
                api_->swr_free(&swr_);
                error_ = ERROR_CODEC;
                return false;
            }
            rate_ = rate;
            fmt_ = fmt;
            api_->av_channel_layout_copy(&layout_, &layout);
        }
        const int maxOut = api_->swr_get_out_samples(swr_, samples);
        if (maxOut <= 0)
            return true;
        out_.resize(static_cast<std::size_t>(maxOut) * 2);
        auto* outPtr = reinterpret_cast<std::uint8_t*>(out_.data());
        const int got = api_->swr_convert(swr_, &outPtr, maxOut,
                                          const_cast<const std::uint8_t**>(planes), samples);
        if (got < 0)
            return false;
        return got == 0 || sink(out_.data(), static_cast<std::size_t>(got));
    }

    // Why the last conversion failed: ERROR_CODEC when the resampler is
    // missing or cannot take this format, ERROR_OK otherwise.
    int error() const { return error_; }

private:
    bool load() {
        if (!api_)
            api_ = ffmpegResampler();
        if (!api_)
            error_ = ERROR_CODEC;
        return api_ != nullptr;
    }

    int error_ = ERROR_OK;

    const FfmpegApi* api_ = nullptr;
    SwrContext* swr_ = nullptr;
    int rate_ = 0;
    AVSampleFormat fmt_ = AV_SAMPLE_FMT_NONE;
    AVChannelLayout layout_{};
    std::vector<std::int16_t> out_;
};

// The byte rate over what was decoded, told through `report` after a fifth
// of a second of audio, then every half second or so; older audio counts
// less and less, so it follows a change.
class RateMeter {
public:
    void add(double bytes, double seconds, const std::function<void(double)>& report) {
        bytes_ += bytes;
        seconds_ += seconds;
        if (!report || seconds_ < nextAt_ || seconds_ <= 0)
            return;
        report(bytes_ / seconds_);
        if (seconds_ > 30) {
            seconds_ /= 2;
            bytes_ /= 2;
        }
        nextAt_ = seconds_ + 0.5;
    }

private:
    double bytes_ = 0;
    double seconds_ = 0;
    double nextAt_ = 0.2;
};

// Why an opening that decoded nothing failed: cancelled, no way to convert
// what was decoded, or no audio the decoder knows.
inline int openFailure(bool cancelled, const Converter& converter) {
    if (cancelled)
        return ERROR_UNKNOWN;
    return converter.error() != ERROR_OK ? converter.error() : ERROR_FILEFORM;
}

// MP3 through libmpg123.
std::unique_ptr<Decoder> makeMp3Decoder(ByteRing& source, PcmSink sink,
                                        const std::atomic<bool>& cancel, DecoderReports reports);
// AAC in ADTS frames through libfaad2.
std::unique_ptr<Decoder> makeAacDecoder(ByteRing& source, PcmSink sink,
                                        const std::atomic<bool>& cancel, DecoderReports reports);
// Everything else through FFmpeg.
std::unique_ptr<Decoder> makeFfmpegDecoder(Codec codec, ByteRing& source, PcmSink sink,
                                           const std::atomic<bool>& cancel, DecoderReports reports);

} // namespace tolvane::engine
