// The decoders must take whatever a station sends: the first byte picks the
// container, as a station's Content-Type would (MP3 through libmpg123, ADTS
// through libfaad2, everything else through FFmpeg on our own reader); the
// rest is the stream, which then ends. Each decoder opens or refuses, decodes
// to the end in a bounded number of steps, and every frame it reports begins
// inside the bytes it was given (the recorder copies the station's own bytes
// from there).

#include "FuzzCheck.h"

#include "ByteRing.h"
#include "Decoder.h"
#include "DecoderParts.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

using namespace tolvane::engine;

namespace {

constexpr Codec kCodecs[] = {Codec::Mp3,  Codec::Aac, Codec::Asf, Codec::Ogg,
                             Codec::Flac, Codec::Ts,  Codec::Mp4, Codec::Probe};
// More decode steps than any input of the fuzzer's length can need.
constexpr int kMaxSteps = 100000;
// Audio enough for any input of that length; a sink says stop beyond it.
constexpr std::uint64_t kMaxFrames = std::uint64_t{44100} * 600;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const Codec codec = kCodecs[data[0] % std::size(kCodecs)];
    const std::size_t streamBytes = size - 1;
    ByteRing ring(std::max<std::size_t>(streamBytes, 1));
    FUZZ_CHECK(ring.write(data + 1, streamBytes) == streamBytes);
    ring.finish();

    std::atomic<bool> cancel{false};
    std::uint64_t frames = 0;
    PcmSink sink = [&](const std::int16_t* pcm, std::size_t count) {
        FUZZ_CHECK(pcm != nullptr || count == 0);
        frames += count;
        return frames < kMaxFrames;
    };
    DecoderReports reports;
    reports.position = [&](std::uint64_t byte) { FUZZ_CHECK(byte <= streamBytes); };

    std::unique_ptr<Decoder> decoder =
        codec == Codec::Mp3   ? makeMp3Decoder(ring, sink, cancel, reports)
        : codec == Codec::Aac ? makeAacDecoder(ring, sink, cancel, reports)
                              : makeFfmpegDecoder(codec, ring, sink, cancel, reports);
    const int opened = decoder->open();
    if (opened != 0)
        return 0;
    int steps = 0;
    while (decoder->decode())
        FUZZ_CHECK(++steps < kMaxSteps);
    const AudioFormat format = decoder->format();
    FUZZ_CHECK(format.channels >= 0 && format.sampleRate >= 0);
    return 0;
}
