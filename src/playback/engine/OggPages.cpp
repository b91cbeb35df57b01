#include "OggPages.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tolvane::engine::ogg {
namespace {

constexpr std::uint8_t kContinued = 1;
constexpr std::uint8_t kBos = 2;
constexpr std::uint8_t kEos = 4;
// Enough of a header packet's first bytes to know it (FLAC's mapping packet
// tells whether its STREAMINFO is the last metadata block at byte 13).
constexpr std::size_t kPacketStartBytes = 16;
// The bytes fed to the page reader at once.
constexpr std::size_t kFeedPiece = std::size_t{64} * 1024;

const std::array<std::uint32_t, 256>& crcTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int b = 0; b < 8; ++b)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04c11db7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    return table;
}

std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

void writeLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool startsWith(const std::vector<std::uint8_t>& bytes, const char* text, std::size_t size) {
    return bytes.size() >= size && std::memcmp(bytes.data(), text, size) == 0;
}

} // namespace

std::uint32_t crc(const std::uint8_t* data, std::size_t size) {
    const auto& table = crcTable();
    std::uint32_t r = 0;
    for (std::size_t i = 0; i < size; ++i)
        r = (r << 8) ^ table[((r >> 24) ^ data[i]) & 0xff];
    return r;
}

std::int64_t Page::granule() const {
    std::uint64_t g = 0;
    for (int i = 7; i >= 0; --i)
        g = g << 8 | bytes[6 + static_cast<std::size_t>(i)];
    return static_cast<std::int64_t>(g);
}

std::uint32_t Page::serial() const {
    return readLe32(bytes.data() + 14);
}

void Page::setGranule(std::int64_t granule) {
    const auto g = static_cast<std::uint64_t>(granule);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[6 + i] = static_cast<std::uint8_t>(g >> (8 * i));
}

void Page::setSequence(std::uint32_t sequence) {
    writeLe32(bytes.data() + 18, sequence);
}

void Page::seal() {
    writeLe32(bytes.data() + 22, 0);
    writeLe32(bytes.data() + 22, crc(bytes.data(), bytes.size()));
}

std::optional<std::size_t> pageSizeAt(const std::uint8_t* data, std::size_t size) {
    const std::size_t known = std::min<std::size_t>(size, 5);
    if (std::memcmp(data, "OggS\0", known) != 0)
        return std::size_t{0};
    if (size < kPageHeaderBytes)
        return std::nullopt;
    if (data[5] & ~(kContinued | kBos | kEos))
        return std::size_t{0};
    const std::size_t segments = data[26];
    if (size < kPageHeaderBytes + segments)
        return std::nullopt;
    std::size_t body = 0;
    for (std::size_t i = 0; i < segments; ++i)
        body += data[kPageHeaderBytes + i];
    return kPageHeaderBytes + segments + body;
}

bool crcHolds(const std::uint8_t* data, std::size_t size) {
    std::uint8_t header[kPageHeaderBytes];
    std::memcpy(header, data, kPageHeaderBytes);
    std::memset(header + 22, 0, 4);
    const auto& table = crcTable();
    std::uint32_t r = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = i < kPageHeaderBytes ? header[i] : data[i];
        r = (r << 8) ^ table[((r >> 24) ^ b) & 0xff];
    }
    return r == readLe32(data + 22);
}

// ---------------------------------------------------------------- PageReader

void PageReader::feed(const std::uint8_t* data, std::size_t size, const PageSink& sink) {
    while (size > 0) {
        const std::size_t piece = std::min(size, kFeedPiece);
        buffer_.insert(buffer_.end(), data, data + piece);
        data += piece;
        size -= piece;
        take(sink);
    }
}

void PageReader::take(const PageSink& sink) {
    std::size_t at = 0;
    while (at < buffer_.size()) {
        const std::optional<std::size_t> pageSize =
            pageSizeAt(buffer_.data() + at, buffer_.size() - at);
        if (!pageSize)
            break; // a page's header, not whole yet
        if (*pageSize == 0 ||
            (buffer_.size() - at >= *pageSize && !crcHolds(buffer_.data() + at, *pageSize))) {
            // Not a page: look for the next capture pattern.
            const auto from = buffer_.begin() + static_cast<std::ptrdiff_t>(at + 1);
            const auto next = std::find(from, buffer_.end(), std::uint8_t{'O'});
            at = static_cast<std::size_t>(next - buffer_.begin());
            continue;
        }
        if (buffer_.size() - at < *pageSize)
            break;
        Page page;
        page.bytes.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(at),
                          buffer_.begin() + static_cast<std::ptrdiff_t>(at + *pageSize));
        at += *pageSize;
        pageEnd_ = offset_ + at;
        sink(std::move(page));
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at));
    offset_ += at;
}

// ---------------------------------------------------------------- StreamFollower

StreamFollower::Kind StreamFollower::take(const Page& page) {
    if (page.bos()) {
        // A new logical stream: of a codec kept as it is, the next link of
        // a chain; anything else (a stream grouped beside it) is left out.
        const std::size_t firstSize = page.segments() > 0 ? page.lacing()[0] : 0;
        const std::uint8_t* first = page.bytes.data() + page.bodyOffset();
        std::optional<Codec> codec;
        if (page.segments() == 1 && firstSize >= 7 && std::memcmp(first, "\x01vorbis", 7) == 0)
            codec = Codec::Vorbis;
        else if (page.segments() == 1 && firstSize >= 19 && std::memcmp(first, "OpusHead", 8) == 0)
            codec = Codec::Opus;
        else if (page.segments() == 1 && firstSize >= 14 &&
                 std::memcmp(first,
                             "\x7F"
                             "FLAC",
                             5) == 0)
            codec = Codec::Flac;
        if (!codec)
            return Kind::Other;
        current_.reset();
        collecting_ = std::make_unique<Headers>();
        collecting_->serial = page.serial();
        collecting_->codec = *codec;
        collectedBytes_ = 0;
        packetsDone_ = 0;
        inPacket_ = false;
        lastBlockSeen_ = false;
        packetsWanted_ = *codec == Codec::Vorbis ? 3 : *codec == Codec::Opus ? 2 : 0;
        if (*codec == Codec::Flac) {
            const std::size_t more = std::size_t{first[7]} << 8 | first[8];
            packetsWanted_ = more > 0 ? 1 + more : 0;
        }
    }
    if (current_ && page.serial() == current_->serial)
        return Kind::Audio;
    if (!collecting_ || page.serial() != collecting_->serial)
        return Kind::Other;
    collectedBytes_ += page.bytes.size();
    const bool sane = collectedBytes_ <= kMaxHeaderBytes &&
                      collecting_->pages.size() < kMaxHeaderPages && countPackets(page);
    if (!sane) {
        collecting_.reset();
        return Kind::Other;
    }
    collecting_->pages.push_back(page);
    const bool complete = packetsWanted_ > 0 ? packetsDone_ >= packetsWanted_ : lastBlockSeen_;
    if (complete)
        current_ = std::shared_ptr<const Headers>(std::move(collecting_));
    return Kind::Header;
}

bool StreamFollower::countPackets(const Page& page) {
    if (page.continued() != inPacket_)
        return false;
    const std::uint8_t* body = page.bytes.data() + page.bodyOffset();
    for (std::size_t i = 0; i < page.segments(); ++i) {
        const std::size_t size = page.lacing()[i];
        // Segments after the last header packet: audio shares its page.
        if (packetsWanted_ > 0 ? packetsDone_ >= packetsWanted_ : lastBlockSeen_)
            return false;
        if (!inPacket_)
            packetStart_.clear();
        const std::size_t take = std::min(size, kPacketStartBytes - packetStart_.size());
        packetStart_.insert(packetStart_.end(), body, body + take);
        body += size;
        inPacket_ = size == 255;
        if (inPacket_)
            continue;
        // A header packet is whole: is it the one its codec puts there?
        const std::size_t n = packetsDone_++;
        const std::vector<std::uint8_t>& p = packetStart_;
        switch (collecting_->codec) {
        case Codec::Vorbis:
            if (p.size() < 7 || p[0] != 2 * n + 1 || std::memcmp(p.data() + 1, "vorbis", 6) != 0)
                return false;
            break;
        case Codec::Opus:
            if (!startsWith(p, n == 0 ? "OpusHead" : "OpusTags", 8))
                return false;
            break;
        case Codec::Flac:
            if (n == 0 && p.size() > 13)
                lastBlockSeen_ = p[13] & 0x80;
            else if (n > 0 && !p.empty())
                lastBlockSeen_ = p[0] & 0x80;
            break;
        }
    }
    return true;
}

// ---------------------------------------------------------------- position

std::optional<std::int64_t> granuleBefore(const std::uint8_t* data, std::size_t size) {
    std::size_t end = size;
    while (end >= kPageHeaderBytes) {
        // The page that ends at `end` begins at most kMaxPageBytes before it.
        const std::size_t lowest = end > kMaxPageBytes ? end - kMaxPageBytes : 0;
        std::optional<std::size_t> found;
        for (std::size_t at = end - kPageHeaderBytes + 1; at-- > lowest;) {
            if (data[at] != 'O')
                continue;
            const std::optional<std::size_t> pageSize = pageSizeAt(data + at, end - at);
            if (pageSize && *pageSize == end - at && crcHolds(data + at, *pageSize)) {
                found = at;
                break;
            }
        }
        if (!found)
            return std::nullopt;
        Page page;
        page.bytes.assign(data + *found, data + end);
        if (page.granule() != kNoGranule)
            return page.granule();
        end = *found;
    }
    return std::nullopt;
}

Page positionPage(std::uint32_t serial, std::int64_t granule) {
    Page page;
    page.bytes.assign(kPageHeaderBytes, 0);
    std::memcpy(page.bytes.data(), "OggS", 4);
    page.setGranule(granule);
    writeLe32(page.bytes.data() + 14, serial);
    page.seal();
    return page;
}

// ---------------------------------------------------------------- OggWriter

namespace {

// Whether two streams' headers are the same, page for page (whatever the
// pages' numbers and CRCs).
bool sameStream(const Headers& a, const Headers& b) {
    if (a.serial != b.serial || a.pages.size() != b.pages.size())
        return false;
    for (std::size_t i = 0; i < a.pages.size(); ++i) {
        const std::vector<std::uint8_t>& x = a.pages[i].bytes;
        const std::vector<std::uint8_t>& y = b.pages[i].bytes;
        if (x.size() != y.size() || !std::equal(x.begin() + 26, x.end(), y.begin() + 26))
            return false;
    }
    return true;
}

} // namespace

void OggWriter::feed(const std::uint8_t* data, std::size_t size, Out& out) {
    reader_.feed(data, size, [&](Page&& p) { page(std::move(p), out); });
}

void OggWriter::page(Page&& page, Out& out) {
    const std::shared_ptr<const Headers> before = follower_.headers();
    switch (follower_.take(page)) {
    case StreamFollower::Kind::Header:
        if (!follower_.headers() || follower_.headers() == before)
            break;
        if (inFile_ && sameStream(*inFile_, *follower_.headers())) {
            // The same stream's headers again (a station reconnected, or a
            // recording's start told): it goes on in the file as it was.
            inFile_ = follower_.headers();
        } else {
            // A new stream: the one before ends with the page held back
            // when the new one's audio comes.
            stationGranule_ = 0;
            linkFresh_ = true;
        }
        break;
    case StreamFollower::Kind::Audio:
        audio(std::move(page), out);
        break;
    case StreamFollower::Kind::Other:
        break;
    }
}

void OggWriter::audio(Page&& page, Out& out) {
    if (page.segments() == 0) {
        // No packet: where the stream stands (positionPage), nothing to write.
        // A stream that goes on in the file after a gap counts on without it.
        if (page.granule() != kNoGranule) {
            if (base_ && stationGranule_ && inFile_ == follower_.headers())
                *base_ += page.granule() - *stationGranule_;
            stationGranule_ = page.granule();
        } else if (inFile_ != follower_.headers())
            stationGranule_.reset();
        fresh_ = true;
        linkFresh_ = false;
        return;
    }
    const std::int64_t granule = page.granule();
    std::optional<std::int64_t> standsAt = stationGranule_;
    if (granule != kNoGranule)
        stationGranule_ = granule;
    if (fresh_ && page.continued()) {
        // The end of a packet whose beginning is not in this file: left out.
        std::size_t i = 0;
        std::size_t bytes = 0;
        while (i < page.segments() && page.lacing()[i] == 255)
            bytes += page.lacing()[i++];
        if (i == page.segments())
            return;
        bytes += page.lacing()[i++];
        std::vector<std::uint8_t> rest(page.bytes.begin(), page.bytes.begin() + kPageHeaderBytes);
        rest[26] = static_cast<std::uint8_t>(page.segments() - i);
        rest.insert(rest.end(), page.lacing() + i, page.lacing() + page.segments());
        rest.insert(rest.end(),
                    page.bytes.begin() + static_cast<std::ptrdiff_t>(page.bodyOffset() + bytes),
                    page.bytes.end());
        page.bytes = std::move(rest);
        page.setFlags(page.flags() & ~kContinued);
        if (page.segments() == 0)
            return;
    }
    fresh_ = false;
    if (linkFresh_) {
        base_ = 0;
        linkFresh_ = false;
    } else if (inFile_ != follower_.headers()) {
        base_ = standsAt; // the stream's first page in this file
    }
    if (!base_) {
        // Where the file's first page stands is unknown: that page tells
        // it, and the file begins after it.
        if (granule != kNoGranule)
            base_ = granule;
        fresh_ = true;
        return;
    }
    const std::shared_ptr<const Headers>& headers = follower_.headers();
    if (inFile_ != headers) {
        flushHeld(true, out);
        // Each link of a chain in a file has a serial number of its own (a
        // station restarted may begin its new stream with the old number).
        serial_ = headers->serial;
        while (std::find(serials_.begin(), serials_.end(), serial_) != serials_.end())
            ++serial_;
        serials_.push_back(serial_);
        sequence_ = 0;
        for (std::size_t i = 0; i < headers->pages.size(); ++i) {
            Page h = headers->pages[i];
            h.setFlags(static_cast<std::uint8_t>((h.flags() & kContinued) | (i == 0 ? kBos : 0)));
            if (h.granule() != kNoGranule)
                h.setGranule(0);
            append(h, out);
        }
        inFile_ = headers;
    }
    if (granule != kNoGranule)
        page.setGranule(std::max<std::int64_t>(0, granule - *base_));
    page.setFlags(page.flags() & kContinued);
    flushHeld(false, out);
    held_ = std::move(page);
}

void OggWriter::flushHeld(bool last, Out& out) {
    if (!held_)
        return;
    Page page = std::move(*held_);
    held_.reset();
    if (last) {
        // A packet that goes on in the next page is not in this file.
        std::size_t keep = page.segments();
        while (keep > 0 && page.lacing()[keep - 1] == 255)
            --keep;
        if (keep < page.segments()) {
            std::size_t body = 0;
            for (std::size_t i = 0; i < keep; ++i)
                body += page.lacing()[i];
            std::vector<std::uint8_t> kept(page.bytes.begin(),
                                           page.bytes.begin() + kPageHeaderBytes);
            kept[26] = static_cast<std::uint8_t>(keep);
            kept.insert(kept.end(), page.lacing(), page.lacing() + keep);
            const auto from = page.bytes.begin() + static_cast<std::ptrdiff_t>(page.bodyOffset());
            kept.insert(kept.end(), from, from + static_cast<std::ptrdiff_t>(body));
            page.bytes = std::move(kept);
        }
        if (keep == 0)
            page.setGranule(lastWritten_);
        page.setFlags(page.flags() | kEos);
    }
    if (page.granule() != kNoGranule)
        lastWritten_ = page.granule();
    append(page, out);
}

void OggWriter::append(Page& page, Out& out) {
    writeLe32(page.bytes.data() + 14, serial_);
    page.setSequence(sequence_++);
    page.seal();
    out.insert(out.end(), page.bytes.begin(), page.bytes.end());
}

void OggWriter::endFile(Out& out) {
    flushHeld(true, out);
    inFile_.reset();
    serials_.clear();
    fresh_ = true;
    linkFresh_ = false;
}

// ---------------------------------------------------------------- HeaderTracker

void HeaderTracker::feed(const std::uint8_t* data, std::size_t size) {
    reader_.feed(data, size, [&](Page&& page) {
        const std::shared_ptr<const Headers> before = follower_.headers();
        if (follower_.take(page) != StreamFollower::Kind::Header || !follower_.headers() ||
            follower_.headers() == before)
            return;
        std::lock_guard lock(mutex_);
        if (kept_.size() == kKept)
            kept_.pop_front();
        kept_.emplace_back(reader_.pageEnd(), follower_.headers());
    });
}

std::shared_ptr<const Headers> HeaderTracker::at(std::uint64_t byte) const {
    std::lock_guard lock(mutex_);
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
        if (it->first <= byte)
            return it->second;
    }
    return nullptr;
}

std::vector<std::uint8_t> HeaderTracker::resume(std::uint64_t byte,
                                                const std::vector<std::uint8_t>& before) const {
    std::vector<std::uint8_t> out;
    const std::shared_ptr<const Headers> headers = at(byte);
    if (!headers)
        return out;
    for (const Page& page : headers->pages)
        out.insert(out.end(), page.bytes.begin(), page.bytes.end());
    const Page told = positionPage(
        headers->serial, granuleBefore(before.data(), before.size()).value_or(kNoGranule));
    out.insert(out.end(), told.bytes.begin(), told.bytes.end());
    return out;
}

} // namespace tolvane::engine::ogg
