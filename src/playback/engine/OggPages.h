#pragma once
// Ogg pages of a station's stream, taken apart and written again, for a
// recording in the station's own format: each file begins with the header
// packets of the logical stream it holds (Vorbis, Opus or FLAC), its pages
// numbered from 0 and its granule positions counted from its start, each
// page's CRC made anew. A chained stream (a new logical stream, with new
// headers, at each song) stays chained within a file; a file cut where a new
// logical stream begins starts with that stream's headers.
//
// Nothing here trusts the stream: a page is at most the 65307 bytes its
// header can describe, and is taken only when its CRC holds; the headers of
// a logical stream are at most kMaxHeaderBytes over kMaxHeaderPages pages,
// and a stream whose headers do not complete within that is refused.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tolvane::engine::ogg {

inline constexpr std::size_t kPageHeaderBytes = 27;
inline constexpr std::size_t kMaxPageBytes = kPageHeaderBytes + 255 + 255 * 255;
inline constexpr std::size_t kMaxHeaderBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMaxHeaderPages = 64;
// The granule position of a page on which no packet ends.
inline constexpr std::int64_t kNoGranule = -1;

// The Ogg CRC (polynomial 0x04c11db7, not reflected, starting from 0).
std::uint32_t crc(const std::uint8_t* data, std::size_t size);

// One whole page, its bytes as they are (checked: its CRC holds).
struct Page {
    std::vector<std::uint8_t> bytes;

    std::uint8_t flags() const { return bytes[5]; }
    bool continued() const { return flags() & 1; }
    bool bos() const { return flags() & 2; }
    bool eos() const { return flags() & 4; }
    std::int64_t granule() const;
    std::uint32_t serial() const;
    std::size_t segments() const { return bytes[26]; }
    const std::uint8_t* lacing() const { return bytes.data() + kPageHeaderBytes; }
    std::size_t bodyOffset() const { return kPageHeaderBytes + segments(); }

    void setFlags(std::uint8_t flags) { bytes[5] = flags; }
    void setGranule(std::int64_t granule);
    void setSequence(std::uint32_t sequence);
    // Computes the CRC again after a change.
    void seal();
};

// The size of the page that begins at `data` when its header is whole and
// sane; 0 when it is not a page, nullopt when more bytes are needed to know.
std::optional<std::size_t> pageSizeAt(const std::uint8_t* data, std::size_t size);
// Whether a whole page of `size` bytes at `data` has a CRC that holds.
bool crcHolds(const std::uint8_t* data, std::size_t size);

// Cuts a byte stream into pages, whatever pieces it comes in; bytes that are
// not part of a page with a good CRC are skipped. Holds at most one page
// and one piece's bytes.
class PageReader {
public:
    using PageSink = std::function<void(Page&&)>;
    void feed(const std::uint8_t* data, std::size_t size, const PageSink& sink);
    // While the sink has a page: where it ends, counted from the first byte
    // fed.
    std::uint64_t pageEnd() const { return pageEnd_; }

private:
    void take(const PageSink& sink);
    std::vector<std::uint8_t> buffer_;
    std::uint64_t offset_ = 0; // of buffer_'s first byte
    std::uint64_t pageEnd_ = 0;
};

enum class Codec { Vorbis, Opus, Flac };

// The header pages of one logical stream, whole.
struct Headers {
    std::uint32_t serial = 0;
    Codec codec = Codec::Vorbis;
    std::vector<Page> pages;
};

// Follows the logical streams of a (chained) Ogg stream page by page: which
// pages are the headers of a stream, and which are audio of a stream whose
// headers are complete. A stream of any other codec, pages of any other
// stream, and a stream whose headers do not fit the bounds are left out.
class StreamFollower {
public:
    enum class Kind { Header, Audio, Other };
    Kind take(const Page& page);
    // The complete headers of the stream whose audio comes; nullptr while
    // there is none.
    const std::shared_ptr<const Headers>& headers() const { return current_; }

private:
    // The header packets a page completes; false when they are not sane.
    bool countPackets(const Page& page);

    std::shared_ptr<const Headers> current_;
    std::unique_ptr<Headers> collecting_;
    std::size_t collectedBytes_ = 0;
    std::size_t packetsDone_ = 0;
    std::size_t packetsWanted_ = 0;         // 0: until FLAC's last metadata block
    std::vector<std::uint8_t> packetStart_; // first bytes of the packet being collected
    bool inPacket_ = false;
    bool lastBlockSeen_ = false;
};

// The page that ends exactly where `size` bytes at `data` end (the stream
// before a byte), and the ones before it, searched back for the granule
// position of the last that has one: where the stream stands at that byte.
std::optional<std::int64_t> granuleBefore(const std::uint8_t* data, std::size_t size);

// A page with no packet that tells where a stream stands: the granule
// position of the stream `serial` before the page that comes next
// (kNoGranule: unknown). OggWriter writes no such page; it counts the pages
// after it from there.
Page positionPage(std::uint32_t serial, std::int64_t granule);

// Writes the pages of the station's stream into files, one after the other:
// each begins with the headers of the stream in force, its pages numbered
// from 0 and its granule positions counted from its first page. What the
// stream said before the first file carries from one file to the next.
class OggWriter {
public:
    using Out = std::vector<std::uint8_t>;
    // The station's bytes, in the stream's order; what goes into the file
    // is appended to `out`.
    void feed(const std::uint8_t* data, std::size_t size, Out& out);
    // Ends the file (its last page marked as the end of its stream); the
    // pages fed next begin a new one.
    void endFile(Out& out);

private:
    void page(Page&& page, Out& out);
    void audio(Page&& page, Out& out);
    void flushHeld(bool last, Out& out);
    void append(Page& page, Out& out);

    PageReader reader_;
    StreamFollower follower_;
    std::shared_ptr<const Headers> inFile_; // the headers written in this file last
    std::optional<Page> held_;              // the last page, written when the next comes
    std::uint32_t sequence_ = 0;
    std::uint32_t serial_ = 0;           // of the stream's pages in this file
    std::vector<std::uint32_t> serials_; // the serials this file has used
    // Where the station's stream stands before the next page (its own
    // granule count); unknown until a page or positionPage tells it.
    std::optional<std::int64_t> stationGranule_;
    std::optional<std::int64_t> base_; // the granule this file counts from
    std::int64_t lastWritten_ = 0;     // the granule of the page written last
    bool fresh_ = true;                // the next audio page begins a run of pages
    bool linkFresh_ = false;           // the stream's headers just ended: its audio begins
};

// The headers of an Ogg stream's logical streams as the download brings
// them, kept by where each stream's audio begins, so that a recording
// beginning anywhere in the kept bytes begins with the right ones. Fed on
// one thread, asked on any. Keeps the last kKept streams' headers.
class HeaderTracker {
public:
    static constexpr std::size_t kKept = 8;
    void feed(const std::uint8_t* data, std::size_t size);
    // The headers of the last stream whose audio began at or before `byte`;
    // nullptr when none.
    std::shared_ptr<const Headers> at(std::uint64_t byte) const;
    // What a file that begins at `byte` of the stream is to be fed first:
    // the header pages in force there and a positionPage telling where the
    // stream stands, as the stream's bytes just before (`before`) say.
    // Empty when no headers are known.
    std::vector<std::uint8_t> resume(std::uint64_t byte,
                                     const std::vector<std::uint8_t>& before) const;

private:
    PageReader reader_;
    StreamFollower follower_;
    mutable std::mutex mutex_; // guards kept_
    std::deque<std::pair<std::uint64_t, std::shared_ptr<const Headers>>> kept_;
};

} // namespace tolvane::engine::ogg
