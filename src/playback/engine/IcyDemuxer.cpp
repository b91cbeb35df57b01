#include "IcyDemuxer.h"

#include "Text.h"

#include <algorithm>

namespace tolvane::engine {

bool cleanMetadata(std::string_view raw, std::string& text, const TextDecoder& decode) {
    raw = raw.substr(0, raw.find('\0'));
    if (raw.empty())
        return false;
    for (char c : raw) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t')
            return false;
        if (u == 0x7F)
            return false;
    }
    text = decodeServerText(raw, decode);
    return true;
}

void IcyDemuxer::feed(const std::uint8_t* data, std::size_t size, Sink& sink) {
    if (metaint_ == 0) {
        if (size)
            sink.audio(data, size);
        return;
    }
    while (size > 0) {
        switch (state_) {
        case State::Audio: {
            const std::size_t n = std::min(left_, size);
            sink.audio(data, n);
            data += n;
            size -= n;
            left_ -= n;
            if (left_ == 0)
                state_ = State::Length;
            break;
        }
        case State::Length:
            left_ = static_cast<std::size_t>(*data) * 16;
            ++data;
            --size;
            meta_.clear();
            if (left_ == 0) {
                state_ = State::Audio;
                left_ = metaint_;
            } else {
                state_ = State::Meta;
            }
            break;
        case State::Meta: {
            const std::size_t n = std::min(left_, size);
            meta_.append(reinterpret_cast<const char*>(data), n);
            data += n;
            size -= n;
            left_ -= n;
            if (left_ == 0) {
                finishMeta(sink);
                state_ = State::Audio;
                left_ = metaint_;
            }
            break;
        }
        }
    }
}

void IcyDemuxer::finishMeta(Sink& sink) {
    std::string text;
    if (cleanMetadata(meta_, text, decode_))
        sink.metadata(text);
    meta_.clear();
}

} // namespace tolvane::engine
