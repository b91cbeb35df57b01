// AAC and HE-AAC in ADTS frames through libfaad2, fed from the download
// buffer. FFmpeg's decoder plays the same streams, but loading libavcodec
// maps some hundred libraries (every codec Debian builds it with), which
// costs a player of AAC stations about 20 MB more than one of MP3 stations;
// libfaad2 is one small library. A station at 44100 Hz in stereo then needs
// no FFmpeg at all.

#include "ByteRing.h"
#include "DecoderParts.h"

#include <neaacdec.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tolvane::engine {
namespace {

constexpr std::size_t kHeaderBytes = 7;
// The largest frame ADTS can describe (13 bits of length).
constexpr std::size_t kMaxFrameBytes = 8191;

bool isAdtsSync(const std::uint8_t* p) {
    // 12 sync bits, then the layer (always 0).
    return p[0] == 0xFF && (p[1] & 0xF6) == 0xF0;
}

std::size_t adtsFrameLength(const std::uint8_t* p) {
    return (std::size_t(p[3] & 0x03) << 11) | (std::size_t(p[4]) << 3) | (p[5] >> 5);
}

class AacDecoder final : public Decoder {
public:
    AacDecoder(ByteRing& source, PcmSink sink, const std::atomic<bool>& cancel,
               DecoderReports reports)
        : source_(source), sink_(std::move(sink)), cancel_(cancel), reports_(std::move(reports)) {}
    ~AacDecoder() override {
        if (dec_)
            NeAACDecClose(dec_);
    }

    int open() override {
        dec_ = NeAACDecOpen();
        if (!dec_)
            return ERROR_MEM;
        NeAACDecConfigurationPtr config = NeAACDecGetCurrentConfiguration(dec_);
        config->outputFormat = FAAD_FMT_16BIT;
        config->downMatrix = 1; // 5.1 to stereo
        config->dontUpSampleImplicitSBR = 0;
        if (!NeAACDecSetConfiguration(dec_, config))
            return ERROR_MEM;
        opening_ = true;
        while (!opened_) {
            if (!step())
                return openFailure(cancel_, converter_);
        }
        opening_ = false;
        return ERROR_OK;
    }

    bool decode() override { return step(); }

    AudioFormat format() const override {
        const char* name = ps_ ? "HE-AAC v2" : sbr_ ? "HE-AAC" : "AAC";
        return {name, "ADTS", rate_, channels_, 0};
    }

private:
    // Decodes the next frame into the sink; false at the end of the stream.
    bool step() {
        for (;;) {
            if (cancel_)
                return false;
            const std::size_t frameAt = frameStart();
            if (frameAt == npos) {
                if (!fill())
                    return false;
                continue;
            }
            const std::uint8_t* frame = buffer_.data() + frameAt;
            const std::size_t length = adtsFrameLength(frame);
            const std::uint64_t position = consumed_ + frameAt;
            if (!initialised_) {
                unsigned long rate = 0;
                unsigned char channels = 0;
                if (NeAACDecInit(dec_, const_cast<unsigned char*>(frame),
                                 static_cast<unsigned long>(length), &rate, &channels) < 0) {
                    drop(frameAt + 1); // not a frame after all
                    continue;
                }
                initialised_ = true;
            }
            NeAACDecFrameInfo info{};
            void* pcm = NeAACDecDecode(dec_, &info, const_cast<unsigned char*>(frame),
                                       static_cast<unsigned long>(length));
            drop(frameAt + length);
            if (info.error != 0 || !pcm) {
                // A damaged frame is skipped; only nothing but errors ends it.
                if (++errors_ > 1000)
                    return false;
                continue;
            }
            errors_ = 0;
            if (info.samples == 0 || info.channels == 0)
                continue; // the first frame primes the decoder
            rate_ = static_cast<int>(info.samplerate);
            channels_ = info.channels;
            sbr_ = sbr_ || info.sbr == SBR_UPSAMPLED || info.sbr == SBR_DOWNSAMPLED;
            ps_ = ps_ || info.ps != 0;
            const int frames = static_cast<int>(info.samples / info.channels);
            opened_ = true;
            meter_.add(double(length), double(frames) / double(std::max(rate_, 1)),
                       reports_.byteRate);
            if (reports_.position)
                reports_.position(position);
            return converter_.convertS16(static_cast<const std::int16_t*>(pcm), frames, rate_,
                                         channels_, sink_);
        }
    }

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Where the next whole frame begins in the buffer, npos until one is
    // there. Skips an ID3 tag before the audio and junk between frames.
    std::size_t frameStart() {
        std::size_t at = 0;
        while (buffer_.size() - at >= kHeaderBytes + 3) {
            const std::uint8_t* p = buffer_.data() + at;
            if (std::memcmp(p, "ID3", 3) == 0 && buffer_.size() - at >= 10) {
                const std::size_t tag =
                    10 + (std::size_t(p[6] & 0x7F) << 21 | std::size_t(p[7] & 0x7F) << 14 |
                          std::size_t(p[8] & 0x7F) << 7 | (p[9] & 0x7F));
                if (buffer_.size() - at < tag) {
                    // Read on until the tag has gone by; keep the rest small.
                    skipTag_ = tag - (buffer_.size() - at);
                    drop(buffer_.size());
                    return npos;
                }
                at += tag;
                continue;
            }
            if (isAdtsSync(p)) {
                const std::size_t length = adtsFrameLength(p);
                if (length >= kHeaderBytes) {
                    if (buffer_.size() - at < length) {
                        drop(at);
                        return npos; // the frame's rest is still coming
                    }
                    return at;
                }
            }
            ++at;
        }
        drop(at);
        return npos;
    }

    // Reads more of the download; false at its end.
    bool fill() {
        std::uint8_t input[4096];
        const std::size_t n = source_.read(input, sizeof input, true);
        if (n == 0)
            return false; // the end of the download, or cancelled
        fed_ += n;
        if (opening_ && fed_ > kOpenLimit)
            return false;
        std::size_t skip = std::min(skipTag_, n);
        skipTag_ -= skip;
        consumed_ += skip;
        buffer_.insert(buffer_.end(), input + skip, input + n);
        // Junk without a frame in it is never kept beyond one frame's size.
        if (buffer_.size() > 2 * kMaxFrameBytes)
            drop(buffer_.size() - kMaxFrameBytes);
        return true;
    }

    void drop(std::size_t bytes) {
        bytes = std::min(bytes, buffer_.size());
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(bytes));
        consumed_ += bytes;
    }

    ByteRing& source_;
    PcmSink sink_;
    const std::atomic<bool>& cancel_;
    DecoderReports reports_;
    NeAACDecHandle dec_ = nullptr;
    Converter converter_;
    std::vector<std::uint8_t> buffer_; // read, not yet decoded
    std::uint64_t consumed_ = 0;       // input bytes before buffer_'s first
    std::size_t fed_ = 0;
    std::size_t skipTag_ = 0; // the rest of an ID3 tag still to come
    RateMeter meter_;
    int rate_ = 0;
    int channels_ = 0;
    int errors_ = 0;
    bool sbr_ = false;
    bool ps_ = false;
    bool initialised_ = false;
    bool opened_ = false;
    bool opening_ = false;
};

} // namespace

std::unique_ptr<Decoder> makeAacDecoder(ByteRing& source, PcmSink sink,
                                        const std::atomic<bool>& cancel, DecoderReports reports) {
    return std::make_unique<AacDecoder>(source, std::move(sink), cancel, std::move(reports));
}

} // namespace tolvane::engine
