#include "Decoder.h"

#include "DecoderParts.h"

#include <string_view>

namespace tolvane::engine {

Codec codecForContentType(std::string_view ct) {
    if (ct == "audio/mpeg" || ct == "audio/mp3" || ct == "audio/mpeg3" || ct == "audio/x-mpeg")
        return Codec::Mp3;
    if (ct == "audio/aac" || ct == "audio/aacp" || ct == "audio/x-aac")
        return Codec::Aac;
    if (ct == "video/x-ms-asf" || ct == "audio/x-ms-wma" || ct == "application/vnd.ms-asf")
        return Codec::Asf;
    if (ct == "application/ogg" || ct == "audio/ogg" || ct == "audio/vorbis" ||
        ct == "audio/opus" || ct == "video/ogg")
        return Codec::Ogg;
    if (ct == "audio/flac" || ct == "audio/x-flac")
        return Codec::Flac;
    if (ct == "video/mp2t" || ct == "video/mpeg2-ts")
        return Codec::Ts;
    if (ct == "audio/mp4" || ct == "video/mp4" || ct == "audio/x-m4a")
        return Codec::Mp4;
    return Codec::Probe;
}

bool needsFfmpegFormats(Codec codec, bool icyTitles) {
    return codec != Codec::Mp3 && !(codec == Codec::Aac && icyTitles);
}

std::string titleFromTags(std::string_view artist, std::string_view title) {
    if (artist.empty())
        return std::string(title);
    if (title.empty())
        return std::string(artist);
    return std::string(artist) + " - " + std::string(title);
}

std::unique_ptr<Decoder> makeDecoder(Codec codec, ByteRing& source, PcmSink sink,
                                     const std::atomic<bool>& cancel, DecoderReports reports) {
    if (codec == Codec::Mp3)
        return makeMp3Decoder(source, std::move(sink), cancel, std::move(reports));
    // A stream whose titles come in its own tags (ID3 in HLS segments) goes
    // to FFmpeg, which reads them; the station's ICY titles need no tags.
    if (!needsFfmpegFormats(codec, !reports.title))
        return makeAacDecoder(source, std::move(sink), cancel, std::move(reports));
    return makeFfmpegDecoder(codec, source, std::move(sink), cancel, std::move(reports));
}

} // namespace tolvane::engine
