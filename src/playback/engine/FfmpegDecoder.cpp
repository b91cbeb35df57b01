// Every codec but MP3 through FFmpeg, with an AVIOContext that reads the
// download buffer; also reports the stream's own titles and measured rate.

#include "ByteRing.h"
#include "DecoderParts.h"

#include <cctype>
#include <string_view>

namespace tolvane::engine {
namespace {

class FfmpegDecoder final : public Decoder {
public:
    FfmpegDecoder(Codec codec, ByteRing& source, PcmSink sink, const std::atomic<bool>& cancel,
                  DecoderReports reports)
        : codec_(codec), source_(source), sink_(std::move(sink)), cancel_(cancel),
          reports_(std::move(reports)) {}

    ~FfmpegDecoder() override {
        if (!ff_)
            return;
        ff_->av_frame_free(&frame_);
        ff_->av_packet_free(&packet_);
        ff_->avcodec_free_context(&dec_);
        if (fmt_)
            ff_->avformat_close_input(&fmt_);
        if (io_) {
            ff_->av_freep(&io_->buffer);
            ff_->avio_context_free(&io_);
        }
    }

    int open() override {
        ff_ = ffmpegFormats();
        if (!ff_)
            return ERROR_CODEC;
        const std::uint64_t startRead = source_.totalRead();
        constexpr int kIoBuffer = 8192;
        auto* buffer = static_cast<unsigned char*>(ff_->av_malloc(kIoBuffer));
        if (!buffer)
            return ERROR_MEM;
        io_ = ff_->avio_alloc_context(buffer, kIoBuffer, 0, this, &FfmpegDecoder::readPacket,
                                      nullptr, nullptr);
        if (!io_) {
            ff_->av_free(buffer);
            return ERROR_MEM;
        }
        io_->seekable = 0;
        fmt_ = ff_->avformat_alloc_context();
        if (!fmt_)
            return ERROR_MEM;
        fmt_->pb = io_;
        fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
        fmt_->probesize = std::int64_t{32} * 1024;
        fmt_->format_probesize = 32 * 1024;
        fmt_->max_analyze_duration = 500000;
        fmt_->interrupt_callback.callback = &FfmpegDecoder::interrupted;
        fmt_->interrupt_callback.opaque = this;
        // FFmpeg reads nothing but the bytes our transport hands it: only the
        // demuxers we mean to use (a body that probes as a playlist-like
        // format such as hls or concat would have it open what the body
        // names), no protocol at all, and every open request it makes itself
        // refused.
        fmt_->format_whitelist = ff_->av_strdup(kFormatWhitelist);
        fmt_->protocol_whitelist = ff_->av_strdup("");
        if (!fmt_->format_whitelist || !fmt_->protocol_whitelist)
            return ERROR_MEM;
        fmt_->io_open = &FfmpegDecoder::refuseOpen;
        const AVInputFormat* input = nullptr;
        switch (codec_) {
        case Codec::Aac:
            input = ff_->av_find_input_format("aac");
            break;
        case Codec::Asf:
            input = ff_->av_find_input_format("asf");
            break;
        case Codec::Ogg:
            input = ff_->av_find_input_format("ogg");
            break;
        case Codec::Mp3:
            input = ff_->av_find_input_format("mp3");
            break;
        case Codec::Flac:
            input = ff_->av_find_input_format("flac");
            break;
        case Codec::Ts:
            input = ff_->av_find_input_format("mpegts");
            break;
        case Codec::Mp4:
            input = ff_->av_find_input_format("mp4");
            break;
        case Codec::Probe:
            break;
        }
        if (ff_->avformat_open_input(&fmt_, "stream", input, nullptr) < 0) {
            fmt_ = nullptr; // freed by the failed open
            return cancel_ ? ERROR_UNKNOWN : ERROR_FILEFORM;
        }
        // ASF and Ogg headers give the format; raw ADTS needs a look at the
        // first frames (bounded by the probe size and analyse duration).
        bool needInfo = true;
        for (unsigned i = 0; i < fmt_->nb_streams; ++i) {
            const AVCodecParameters* par = fmt_->streams[i]->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->codec_id != AV_CODEC_ID_NONE &&
                par->sample_rate > 0 && par->ch_layout.nb_channels > 0)
                needInfo = false;
        }
        if (needInfo && ff_->avformat_find_stream_info(fmt_, nullptr) < 0)
            return cancel_ ? ERROR_UNKNOWN : ERROR_FILEFORM;
        stream_ = ff_->av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (stream_ < 0)
            return ERROR_FILEFORM;
        const AVCodecParameters* par = fmt_->streams[stream_]->codecpar;
        const AVCodec* codec = ff_->avcodec_find_decoder(par->codec_id);
        if (!codec)
            return ERROR_CODEC;
        dec_ = ff_->avcodec_alloc_context3(codec);
        if (!dec_ || ff_->avcodec_parameters_to_context(dec_, par) < 0)
            return ERROR_MEM;
        if (ff_->avcodec_open2(dec_, codec, nullptr) < 0)
            return ERROR_CODEC;
        frame_ = ff_->av_frame_alloc();
        packet_ = ff_->av_packet_alloc();
        if (!frame_ || !packet_)
            return ERROR_MEM;
        bitrate_ = static_cast<int>(par->bit_rate / 1000);
        reportTitle();
        while (!produced_) {
            if (!decode())
                return openFailure(cancel_, converter_);
            if (!produced_ && source_.totalRead() - startRead > kOpenLimit)
                return ERROR_FILEFORM;
        }
        if (bitrate_ <= 0 && dec_->bit_rate > 0)
            bitrate_ = static_cast<int>(dec_->bit_rate / 1000);
        return ERROR_OK;
    }

    bool decode() override {
        for (;;) {
            if (cancel_)
                return false;
            const int rf = ff_->av_read_frame(fmt_, packet_);
            if (rf < 0) {
                if (rf == AVERROR(EAGAIN))
                    continue;
                return false;
            }
            tagsChanged();
            if (packet_->stream_index != stream_) {
                ff_->av_packet_unref(packet_);
                continue;
            }
            const int packetBytes = packet_->size;
            if (packet_->pos >= 0)
                packetPos_ = static_cast<std::uint64_t>(packet_->pos);
            const int sent = ff_->avcodec_send_packet(dec_, packet_);
            ff_->av_packet_unref(packet_);
            double rateBytes = sent >= 0 ? packetBytes : 0;
            double rateSeconds = 0;
            if (sent < 0 && sent != AVERROR(EAGAIN)) {
                // A damaged packet: skip it, unless nothing decodes any more.
                if (++errors_ > 1000)
                    return false;
                continue;
            }
            bool any = false;
            while (ff_->avcodec_receive_frame(dec_, frame_) == 0) {
                any = true;
                errors_ = 0;
                if (frame_->sample_rate > 0) {
                    rateSeconds += double(frame_->nb_samples) / frame_->sample_rate;
                    decodedRate_ = frame_->sample_rate;
                    decodedChannels_ = frame_->ch_layout.nb_channels;
                }
                if (reports_.position)
                    reports_.position(packetPos_);
                const bool go = converter_.convert(
                    frame_->extended_data, frame_->nb_samples, frame_->sample_rate,
                    frame_->ch_layout, static_cast<AVSampleFormat>(frame_->format), sink_);
                ff_->av_frame_unref(frame_);
                if (!go)
                    return false;
                produced_ = true;
            }
            meter_.add(rateBytes, rateSeconds, reports_.byteRate);
            if (any)
                return true;
        }
    }

    AudioFormat format() const override {
        AudioFormat f;
        f.bitrateKbps = bitrate_;
        f.sampleRate = decodedRate_;
        f.channels = decodedChannels_;
        if (fmt_ && fmt_->iformat)
            f.container = containerName(fmt_->iformat->name);
        if (dec_)
            f.codec = codecName(*dec_);
        return f;
    }

private:
    // The container as users know it; none for a bare MP3 or FLAC stream.
    static std::string containerName(std::string_view demuxer) {
        if (demuxer == "ogg")
            return "Ogg";
        if (demuxer == "asf")
            return "ASF";
        if (demuxer == "aac")
            return "ADTS";
        if (demuxer == "mpegts")
            return "MPEG-TS";
        if (demuxer.starts_with("mov,"))
            return "MP4";
        return {};
    }

    // HE-AAC is told apart once audio has been decoded: the decoder finds
    // the spectral band replication (and parametric stereo) in the frames,
    // whatever the header signalled.
    static std::string codecName(const AVCodecContext& dec) {
        switch (dec.codec_id) {
        case AV_CODEC_ID_MP3:
            return "MP3";
        case AV_CODEC_ID_AAC:
            return dec.profile == FF_PROFILE_AAC_HE_V2 ? "HE-AAC v2"
                   : dec.profile == FF_PROFILE_AAC_HE  ? "HE-AAC"
                                                       : "AAC";
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2:
        case AV_CODEC_ID_WMAPRO:
        case AV_CODEC_ID_WMALOSSLESS:
        case AV_CODEC_ID_WMAVOICE:
            return "WMA";
        case AV_CODEC_ID_VORBIS:
            return "Vorbis";
        case AV_CODEC_ID_OPUS:
            return "Opus";
        case AV_CODEC_ID_FLAC:
            return "FLAC";
        default:
            break;
        }
        std::string name = dec.codec && dec.codec->name ? dec.codec->name : "";
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    }

    // The demuxer saw new tags (a chained Ogg stream's comments, an ID3 tag
    // between ADTS frames): tell the new title.
    void tagsChanged() {
        AVStream* st = fmt_->streams[stream_];
        if (!(fmt_->event_flags & AVFMT_EVENT_FLAG_METADATA_UPDATED) &&
            !(st->event_flags & AVSTREAM_EVENT_FLAG_METADATA_UPDATED))
            return;
        fmt_->event_flags &= ~AVFMT_EVENT_FLAG_METADATA_UPDATED;
        st->event_flags &= ~AVSTREAM_EVENT_FLAG_METADATA_UPDATED;
        reportTitle();
    }

    void reportTitle() {
        if (!reports_.title)
            return;
        // The audio stream's own tags first (Ogg), then the container's (ID3).
        const AVDictionary* const sources[] = {fmt_->streams[stream_]->metadata, fmt_->metadata};
        for (int i = 0; i < 2; ++i) {
            Tag artist = fresh(sources[i], "artist", seenTags_[i][0]);
            Tag title = fresh(sources[i], "title", seenTags_[i][1]);
            // A chained stream's comments were added to the earlier ones: a
            // tag that nothing was added to is not in the new stream.
            if (title.added && !artist.added)
                artist.value.clear();
            if (artist.added && !title.added)
                title.value.clear();
            const std::string text = titleFromTags(artist.value, title.value);
            if (text.empty())
                continue;
            if (text != lastTitle_) {
                lastTitle_ = text;
                reports_.title(text);
            }
            return;
        }
    }

    struct Tag {
        std::string value;
        bool added = false; // the value grew by "; ..." since last seen
    };

    // A tag's value as it is now. The Ogg demuxer adds a chained stream's
    // comments to the earlier ones ("First;Second"): what was seen before is
    // dropped from the front.
    Tag fresh(const AVDictionary* tags, const char* key, std::string& seen) const {
        const AVDictionaryEntry* entry = tags ? ff_->av_dict_get(tags, key, nullptr, 0) : nullptr;
        const std::string value = entry && entry->value ? std::string(entry->value) : std::string();
        Tag tag{value, false};
        if (!seen.empty() && value.size() > seen.size() + 1 && value.starts_with(seen) &&
            value[seen.size()] == ';') {
            tag.value = value.substr(seen.size() + 1);
            tag.added = true;
        }
        seen = value;
        return tag;
    }

    static int readPacket(void* opaque, std::uint8_t* buf, int size) {
        auto* self = static_cast<FfmpegDecoder*>(opaque);
        const std::size_t n = self->source_.read(buf, static_cast<std::size_t>(size), true);
        return n == 0 ? AVERROR_EOF : static_cast<int>(n);
    }
    // The demuxers the engine chooses from the content type, and the ones a
    // probe may settle on (MP4's demuxer is named "mov,mp4,m4a,3gp,3g2,mj2").
    static constexpr const char* kFormatWhitelist = "mp3,aac,asf,ogg,flac,mpegts,mp4";

    static int refuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
        return AVERROR(EPERM);
    }

    static int interrupted(void* opaque) {
        return static_cast<FfmpegDecoder*>(opaque)->cancel_ ? 1 : 0;
    }

    const FfmpegApi* ff_ = nullptr;
    Codec codec_;
    ByteRing& source_;
    PcmSink sink_;
    const std::atomic<bool>& cancel_;
    Converter converter_;
    AVIOContext* io_ = nullptr;
    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* dec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int stream_ = -1;
    int bitrate_ = 0;
    int decodedRate_ = 0;
    int decodedChannels_ = 0;
    int errors_ = 0;
    bool produced_ = false;
    DecoderReports reports_;
    std::string lastTitle_;
    std::string seenTags_[2][2];  // artist and title as last seen, of the stream and the container
    std::uint64_t packetPos_ = 0; // input byte of the packet sent last
    RateMeter meter_;
};

} // namespace

std::unique_ptr<Decoder> makeFfmpegDecoder(Codec codec, ByteRing& source, PcmSink sink,
                                           const std::atomic<bool>& cancel,
                                           DecoderReports reports) {
    return std::make_unique<FfmpegDecoder>(codec, source, std::move(sink), cancel,
                                           std::move(reports));
}

} // namespace tolvane::engine
