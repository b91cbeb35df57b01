#pragma once
// Splits an ICY body into audio bytes and metadata blocks. Knows nothing of
// the transport: it is fed byte chunks of any size, cut anywhere, and hands
// back audio runs and metadata texts in order.
//
// Body layout: `metaint` audio bytes, one length byte L, 16 x L metadata
// bytes (text padded with NULs), then again. L = 0 means "no change".

#include "Text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tolvane::engine {

class IcyDemuxer {
public:
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void audio(const std::uint8_t* data, std::size_t size) = 0;
        // The text of a metadata block, UTF-8, without padding. Blocks that
        // are empty, or that hold control characters (junk), are not passed.
        virtual void metadata(const std::string& text) = 0;
    };

    // metaint 0: the body is all audio. Texts are decoded by `decode` (see
    // decodeServerText).
    explicit IcyDemuxer(std::size_t metaint, TextDecoder decode = {})
        : metaint_(metaint), left_(metaint), decode_(std::move(decode)) {}

    void feed(const std::uint8_t* data, std::size_t size, Sink& sink);

    std::size_t metaint() const { return metaint_; }

private:
    enum class State { Audio, Length, Meta };
    void finishMeta(Sink& sink);

    std::size_t metaint_;
    State state_ = State::Audio;
    std::size_t left_; // bytes left in the current audio run or metadata block
    std::string meta_; // metadata bytes collected so far
    TextDecoder decode_;
};

// Cleans one metadata block: cut at the first NUL, reject junk, UTF-8 out
// (through `decode`, see decodeServerText). Returns false for blocks that
// carry nothing usable.
bool cleanMetadata(std::string_view raw, std::string& text, const TextDecoder& decode = {});

} // namespace tolvane::engine
