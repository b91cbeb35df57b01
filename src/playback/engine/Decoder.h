#pragma once
// Decoders from the download buffer to 44100 Hz stereo 16-bit.
//
// MP3 goes through libmpg123 (lean, and joins a stream anywhere); AAC and
// HE-AAC in ADTS frames with the station's ICY titles through libfaad2 (one
// small library where FFmpeg's decoder loads a hundred); AAC whose titles
// come in ID3 tags, WMA in ASF, Vorbis, Opus and FLAC in Ogg, plain FLAC,
// MPEG-TS, fragmented MP4 and anything else through FFmpeg with a custom AVIOContext
// reading the same buffer. The container is chosen from the Content-Type,
// because FFmpeg's probing of a stream joined mid-way is slow; only an
// unknown type is probed, with a small probe size.
//
// Decoders run on the stream's decoding thread and block on the buffer.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tolvane::engine {

class ByteRing;

enum class Codec { Mp3, Aac, Asf, Ogg, Flac, Ts, Mp4, Probe };

Codec codecForContentType(std::string_view contentType);

// Whether a stream of `codec` is decoded through FFmpeg's formats (MP3, and
// AAC with the station's ICY titles, are not).
bool needsFfmpegFormats(Codec codec, bool icyTitles);

// Receives decoded audio, 44100 Hz stereo 16-bit; returns false to stop.
using PcmSink = std::function<bool(const std::int16_t* frames, std::size_t count)>;

// What a decoder learns about the stream as it decodes, told on the
// decoding thread. Either may be empty.
struct DecoderReports {
    // The stream's own title from its tags (Vorbis comments, ID3): "ARTIST -
    // TITLE", or whichever of the two there is; at the start and whenever
    // the tags change.
    std::function<void(const std::string& title)> title;
    // Compressed bytes per second of audio, measured over what was decoded:
    // a VBR stream (Vorbis, Opus) often sends far less than its nominal rate.
    std::function<void(double bytesPerSecond)> byteRate;
    // Before a decoded frame's audio goes to the sink: the input byte where
    // that frame began, counted from the decoder's first byte (which is the
    // stream's first audio byte).
    std::function<void(std::uint64_t inputByte)> position;
};

// What a decoder found out about the stream's audio (StreamInfo in
// Engine.h names the texts).
struct AudioFormat {
    std::string codec;
    std::string container;
    int sampleRate = 0; // as decoded, before conversion to 44100 Hz
    int channels = 0;
    int bitrateKbps = 0; // from the codec's or container's header; 0 when unknown
};

// The title text for a pair of tags (either may be empty).
std::string titleFromTags(std::string_view artist, std::string_view title);

class Decoder {
public:
    // Bytes a decoder may read without finding audio before it gives up.
    static constexpr std::size_t kOpenLimit = std::size_t{256} * 1024;

    virtual ~Decoder() = default;
    // Reads until the format is known and the first audio has gone to the
    // sink. Returns an engine error code (0 = playing).
    virtual int open() = 0;
    // Decodes the next piece into the sink; false at the end of the stream.
    virtual bool decode() = 0;
    // The stream's format as far as known after open() (on the decoding
    // thread).
    virtual AudioFormat format() const = 0;
};

std::unique_ptr<Decoder> makeDecoder(Codec codec, ByteRing& source, PcmSink sink,
                                     const std::atomic<bool>& cancel, DecoderReports reports = {});

} // namespace tolvane::engine
