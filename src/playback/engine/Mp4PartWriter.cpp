// AAC in ADTS frames, kept as the station sent them, in an MP4 (.m4a) file.
//
// While the part is recorded its bytes go as they are to an ADTS file beside
// it ("Recording-3.aac" for "Recording-3.m4a"): a player killed meanwhile
// leaves a file that plays as it is, which the next recording keeps as a
// recovered one. When the part ends, libavformat's MP4 muxer (its "ipod"
// flavour, whose files are .m4a) takes each frame's payload without its ADTS
// header into the .m4a file, and the ADTS file goes; nothing is decoded or
// encoded. FFmpeg opens nothing itself: it writes through an AVIOContext of
// ours on a descriptor opened here, and is loaded only when a first part
// ends.

#include "PartWriter.h"

#include "FfmpegApi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tolvane::engine {
namespace {

constexpr std::array<int, 13> kRates{96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};

// What one ADTS frame's header says.
struct AdtsHeader {
    int profile = 0; // the audio object type less one
    int rateIndex = 0;
    int channelConfig = 0;
    std::size_t headerBytes = 0; // 7, or 9 with a CRC
    std::size_t frameBytes = 0;  // header included
    int blocks = 0;              // raw data blocks of 1024 samples

    bool sameStream(const AdtsHeader& o) const {
        return profile == o.profile && rateIndex == o.rateIndex && channelConfig == o.channelConfig;
    }
};

// Reads the header `p` begins with (7 bytes at hand); false when it begins
// none this file can hold (a channel layout in the payload, a reserved
// value, several blocks with their CRCs).
bool readAdts(const std::uint8_t* p, AdtsHeader& h) {
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0)
        return false;
    h.profile = p[2] >> 6;
    h.rateIndex = (p[2] >> 2) & 0xF;
    h.channelConfig = ((p[2] & 1) << 2) | (p[3] >> 6);
    h.headerBytes = (p[1] & 1) != 0 ? 7 : 9;
    h.frameBytes = (std::size_t{p[3] & 3u} << 11) | (std::size_t{p[4]} << 3) | (p[5] >> 5);
    h.blocks = (p[6] & 3) + 1;
    return h.profile != 3 && h.rateIndex < static_cast<int>(kRates.size()) &&
           h.channelConfig != 0 && h.frameBytes > h.headerBytes &&
           (h.headerBytes == 7 || h.blocks == 1);
}

// The ADTS frames of a file, one after another; what lies between them (an
// HLS segment's ID3 tag, bytes that are no frame) is passed over.
class AdtsFrames {
public:
    explicit AdtsFrames(int fd) : fd_(fd) {}

    // The next frame: its header, and its payload valid until the next call.
    // False at the end of the file, or when it cannot be read (`failed`).
    bool next(AdtsHeader& h, const std::uint8_t*& payload, std::size_t& size) {
        for (;;) {
            if (!have(10))
                return false;
            const std::uint8_t* p = buffer_.data() + at_;
            if (std::memcmp(p, "ID3", 3) == 0) {
                const std::size_t tag =
                    10 +
                    ((std::size_t{p[6] & 0x7Fu} << 21) | (std::size_t{p[7] & 0x7Fu} << 14) |
                     (std::size_t{p[8] & 0x7Fu} << 7) | (p[9] & 0x7Fu)) +
                    ((p[5] & 0x10) != 0 ? 10 : 0);
                skip(tag);
                continue;
            }
            if (!readAdts(p, h)) {
                skip(1);
                continue;
            }
            if (!have(h.frameBytes)) {
                skip(h.frameBytes); // a frame cut short by the file's end
                continue;
            }
            payload = buffer_.data() + at_ + h.headerBytes;
            size = h.frameBytes - h.headerBytes;
            at_ += h.frameBytes;
            return true;
        }
    }
    bool failed = false;

private:
    // Whether `bytes` from the reading place are at hand, reading more.
    bool have(std::size_t bytes) {
        while (buffer_.size() - at_ < bytes && !ended_) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at_));
            at_ = 0;
            const std::size_t old = buffer_.size();
            buffer_.resize(old + kChunk);
            const ssize_t n = ::read(fd_, buffer_.data() + old, kChunk);
            if (n < 0 && errno == EINTR) {
                buffer_.resize(old);
                continue;
            }
            buffer_.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            failed = failed || n < 0;
            ended_ = n <= 0;
        }
        return buffer_.size() - at_ >= bytes;
    }
    // Passes over `bytes`, as far as the file goes.
    void skip(std::size_t bytes) {
        while (bytes > 0) {
            const std::size_t step = std::min(bytes, buffer_.size() - at_);
            at_ += step;
            bytes -= step;
            if (bytes > 0 && !have(1))
                return;
        }
    }

    static constexpr std::size_t kChunk = 256 * 1024;
    int fd_;
    std::vector<std::uint8_t> buffer_;
    std::size_t at_ = 0;
    bool ended_ = false;
};

// The MP4 muxer writing to a descriptor of ours.
class Mp4Muxer {
public:
    Mp4Muxer(const FfmpegApi& ff, int fd) : ff_(ff), fd_(fd) {}
    ~Mp4Muxer() {
        if (out_)
            ff_.avformat_free_context(out_);
        if (io_) {
            ff_.av_freep(static_cast<void*>(&io_->buffer));
            ff_.avio_context_free(&io_);
        }
        if (packet_)
            ff_.av_packet_free(&packet_);
    }
    Mp4Muxer(const Mp4Muxer&) = delete;
    Mp4Muxer& operator=(const Mp4Muxer&) = delete;

    // The file's one track, of the stream `first` belongs to.
    bool begin(const AdtsHeader& first) {
        rate_ = kRates[static_cast<std::size_t>(first.rateIndex)];
        if (ff_.avformat_alloc_output_context2(&out_, nullptr, "ipod", nullptr) < 0 || !out_)
            return false;
        out_->protocol_whitelist = ff_.av_strdup("");
        auto* buffer = static_cast<unsigned char*>(ff_.av_malloc(kIoBuffer));
        if (!buffer)
            return false;
        io_ = ff_.avio_alloc_context(buffer, kIoBuffer, 1, this, nullptr, &Mp4Muxer::writeOut,
                                     &Mp4Muxer::seekOut);
        if (!io_) {
            ff_.av_free(buffer);
            return false;
        }
        out_->pb = io_;
        out_->flags |= AVFMT_FLAG_CUSTOM_IO;
        AVStream* st = ff_.avformat_new_stream(out_, nullptr);
        packet_ = ff_.av_packet_alloc();
        if (!st || !packet_ || !out_->protocol_whitelist)
            return false;
        AVCodecParameters* par = st->codecpar;
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = AV_CODEC_ID_AAC;
        par->profile = first.profile;
        par->sample_rate = rate_;
        par->frame_size = 1024;
        ff_.av_channel_layout_default(&par->ch_layout,
                                      first.channelConfig == 7 ? 8 : first.channelConfig);
        // The AudioSpecificConfig the ADTS header stands for.
        par->extradata =
            static_cast<std::uint8_t*>(ff_.av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata)
            return false;
        par->extradata_size = 2;
        const unsigned config = (static_cast<unsigned>(first.profile + 1) << 11) |
                                (static_cast<unsigned>(first.rateIndex) << 7) |
                                (static_cast<unsigned>(first.channelConfig) << 3);
        par->extradata[0] = static_cast<std::uint8_t>(config >> 8);
        par->extradata[1] = static_cast<std::uint8_t>(config);
        st->time_base = AVRational{1, rate_};
        return ff_.avformat_write_header(out_, nullptr) >= 0 && !failed_;
    }

    bool frame(const AdtsHeader& h, const std::uint8_t* payload, std::size_t size) {
        const AVRational tb = out_->streams[0]->time_base;
        const std::int64_t duration = std::int64_t{1024} * h.blocks;
        const auto inBase = [&](std::int64_t samples) {
            return samples * tb.den / (std::int64_t{tb.num} * rate_);
        };
        packet_->data = const_cast<std::uint8_t*>(payload);
        packet_->size = static_cast<int>(size);
        packet_->stream_index = 0;
        packet_->pts = packet_->dts = inBase(samples_);
        packet_->duration = inBase(samples_ + duration) - packet_->pts;
        packet_->flags = AV_PKT_FLAG_KEY;
        samples_ += duration;
        const int rc = ff_.av_write_frame(out_, packet_);
        packet_->data = nullptr;
        packet_->size = 0;
        return rc >= 0 && !failed_;
    }

    bool finish() { return ff_.av_write_trailer(out_) >= 0 && io_->error >= 0 && !failed_; }

private:
    static constexpr int kIoBuffer = 64 * 1024;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
    static int writeOut(void* opaque, const std::uint8_t* data, int size) {
#else
    static int writeOut(void* opaque, std::uint8_t* data, int size) {
#endif
        auto* self = static_cast<Mp4Muxer*>(opaque);
        if (size < 0 || !writeAll(self->fd_, data, static_cast<std::size_t>(size))) {
            self->failed_ = true;
            return AVERROR(EIO);
        }
        return size;
    }

    static std::int64_t seekOut(void* opaque, std::int64_t offset, int whence) {
        auto* self = static_cast<Mp4Muxer*>(opaque);
        if (whence & AVSEEK_SIZE) {
            struct stat st {};
            return ::fstat(self->fd_, &st) == 0 ? st.st_size : -1;
        }
        return ::lseek(self->fd_, offset, whence & ~AVSEEK_FORCE);
    }

    const FfmpegApi& ff_;
    int fd_;
    AVFormatContext* out_ = nullptr;
    AVIOContext* io_ = nullptr;
    AVPacket* packet_ = nullptr;
    int rate_ = 0;
    std::int64_t samples_ = 0;
    bool failed_ = false;
};

class Mp4PartWriter final : public PartWriter {
public:
    ~Mp4PartWriter() override { close(); }

    bool open(const std::string& path) override {
        path_ = path;
        const std::size_t dot = path.rfind('.');
        const std::size_t slash = path.rfind('/');
        adtsPath_ = (dot != std::string::npos && (slash == std::string::npos || dot > slash)
                         ? path.substr(0, dot)
                         : path) +
                    ".aac";
        fd_ = ::open(adtsPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        return fd_ >= 0;
    }

    // Each write holds whole frames: one cut short (the disk is full) is
    // taken back, so the file ends with a whole frame.
    bool write(const std::uint8_t* data, std::size_t size) override {
        if (fd_ < 0)
            return false;
        if (writeAll(fd_, data, size)) {
            written_ += static_cast<off_t>(size);
            return true;
        }
        if (::ftruncate(fd_, written_) == 0)
            ::lseek(fd_, written_, SEEK_SET);
        return false;
    }

    bool close() override {
        if (fd_ < 0)
            return finished_;
        finished_ = ::close(fd_) == 0;
        fd_ = -1;
        finished_ = finished_ && remux();
        return finished_;
    }

private:
    // The ADTS file into the .m4a file. On success the ADTS file goes; on a
    // failure (a full disk) it stays, whole, and the .m4a file goes.
    bool remux() {
        const int in = ::open(adtsPath_.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
            return false;
        AdtsFrames frames(in);
        AdtsHeader h;
        const std::uint8_t* payload = nullptr;
        std::size_t size = 0;
        if (!frames.next(h, payload, size)) {
            ::close(in);
            // Not a frame was written: there is no song to keep.
            if (frames.failed)
                return false;
            ::unlink(adtsPath_.c_str());
            return true;
        }
        const FfmpegApi* ff = ffmpegFormats();
        const int out =
            ff ? ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
        bool ok = out >= 0;
        if (ok) {
            Mp4Muxer muxer(*ff, out);
            const AdtsHeader first = h;
            ok = muxer.begin(first);
            while (ok) {
                // A frame of another stream (a station that changed its
                // format) cannot join this track.
                if (h.sameStream(first))
                    ok = muxer.frame(h, payload, size);
                if (!frames.next(h, payload, size))
                    break;
            }
            ok = ok && !frames.failed && muxer.finish();
        }
        ok = out >= 0 && ::fsync(out) == 0 && ok;
        ok = (out < 0 || ::close(out) == 0) && ok;
        ::close(in);
        ::unlink(ok ? adtsPath_.c_str() : path_.c_str());
        return ok;
    }

    std::string path_;
    std::string adtsPath_;
    int fd_ = -1;
    off_t written_ = 0; // whole frames in the ADTS file
    bool finished_ = true;
};

} // namespace

std::unique_ptr<PartWriter> makeMp4PartWriter() {
    return std::make_unique<Mp4PartWriter>();
}

} // namespace tolvane::engine
