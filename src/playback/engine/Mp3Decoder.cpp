// MP3 (and the older layers) through libmpg123, fed from the download buffer.

#include "ByteRing.h"
#include "DecoderParts.h"

#include <mpg123.h>

#include <mutex>

namespace tolvane::engine {
namespace {

class Mp3Decoder final : public Decoder {
public:
    Mp3Decoder(ByteRing& source, PcmSink sink, const std::atomic<bool>& cancel,
               DecoderReports reports)
        : source_(source), sink_(std::move(sink)), cancel_(cancel), reports_(std::move(reports)) {}
    ~Mp3Decoder() override {
        if (mh_)
            mpg123_delete(mh_);
    }

    int open() override {
        static std::once_flag once;
        std::call_once(once, [] { mpg123_init(); });
        int err = 0;
        mh_ = mpg123_new(nullptr, &err);
        if (!mh_)
            return err == MPG123_OUT_OF_MEM ? ERROR_MEM : ERROR_CODEC;
        mpg123_param(mh_, MPG123_FLAGS, MPG123_QUIET | MPG123_SKIP_ID3V2, 0);
        // Junk between frames is skipped however long it is; the opening has
        // its own byte limit.
        mpg123_param(mh_, MPG123_RESYNC_LIMIT, -1, 0);
        mpg123_format_none(mh_);
        const long* rates = nullptr;
        std::size_t count = 0;
        mpg123_rates(&rates, &count);
        for (std::size_t i = 0; i < count; ++i)
            mpg123_format(mh_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
        if (mpg123_open_feed(mh_) != MPG123_OK)
            return ERROR_MEM;
        opening_ = true;
        while (!opened_) {
            if (!step())
                return openFailure(cancel_, converter_);
            if (!opened_ && fed_ > kOpenLimit)
                return ERROR_FILEFORM;
        }
        opening_ = false;
        mpg123_frameinfo2 info{};
        if (mpg123_info2(mh_, &info) == MPG123_OK) {
            bitrate_ = info.bitrate;
            layer_ = info.layer;
        }
        return ERROR_OK;
    }

    bool decode() override { return step(); }
    AudioFormat format() const override {
        // libmpg123 plays the older layers too; a station rarely sends them.
        const char* name = layer_ == 1 ? "MP1" : layer_ == 2 ? "MP2" : "MP3";
        return {name, {}, rate_, channels_, bitrate_};
    }

private:
    // Decodes one frame (feeding input as needed); false at the end.
    bool step() {
        for (;;) {
            if (cancel_)
                return false;
            off_t num = 0;
            unsigned char* audio = nullptr;
            std::size_t bytes = 0;
            const int rc = mpg123_decode_frame(mh_, &num, &audio, &bytes);
            if (rc == MPG123_NEW_FORMAT) {
                long rate = 0;
                int channels = 0;
                int enc = 0;
                mpg123_getformat(mh_, &rate, &channels, &enc);
                rate_ = static_cast<int>(rate);
                channels_ = channels;
                continue;
            }
            if (rc == MPG123_OK) {
                if (bytes == 0 || channels_ <= 0)
                    continue;
                errors_ = 0;
                opened_ = true;
                const int frames =
                    static_cast<int>(bytes / (2 * static_cast<std::size_t>(channels_)));
                if (reports_.position) {
                    const off_t at = mpg123_framepos(mh_);
                    reports_.position(at >= 0 ? static_cast<std::uint64_t>(at) : fed_);
                }
                return converter_.convertS16(reinterpret_cast<const std::int16_t*>(audio), frames,
                                             rate_, channels_, sink_);
            }
            if (rc == MPG123_NEED_MORE) {
                const std::size_t n = source_.read(input_, sizeof input_, true);
                if (n == 0)
                    return false; // end of the download, or cancelled
                fed_ += n;
                if (opening_ && fed_ > kOpenLimit)
                    return false;
                mpg123_feed(mh_, input_, n);
                continue;
            }
            // A damaged frame: mpg123 resynchronises by itself; only give up
            // when nothing but errors comes.
            if (++errors_ > 1000)
                return false;
        }
    }

    ByteRing& source_;
    PcmSink sink_;
    const std::atomic<bool>& cancel_;
    DecoderReports reports_;
    mpg123_handle* mh_ = nullptr;
    Converter converter_;
    unsigned char input_[4096];
    std::size_t fed_ = 0;
    int rate_ = 0;
    int channels_ = 0;
    int bitrate_ = 0;
    int layer_ = 3;
    int errors_ = 0;
    bool opened_ = false;
    bool opening_ = false;
};

} // namespace

std::unique_ptr<Decoder> makeMp3Decoder(ByteRing& source, PcmSink sink,
                                        const std::atomic<bool>& cancel, DecoderReports reports) {
    return std::make_unique<Mp3Decoder>(source, std::move(sink), cancel, std::move(reports));
}

} // namespace tolvane::engine
