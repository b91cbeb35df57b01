#pragma once
// The file of one part of a recording in the station's own format. The
// encoder feed's writer thread hands it the station's bytes as they are
// heard, whole frames in the stream's order (the stream's metadata already
// removed), and closes it when the part ends; each container writes them in
// its own way. Which streams are kept as they are, and in which container,
// is chosen here and nowhere else.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tolvane::engine {

enum class Codec;

class PartWriter {
public:
    virtual ~PartWriter() = default;
    // Makes the file `path` anew; false when it cannot be made.
    virtual bool open(const std::string& path) = 0;
    // The next bytes of the station's audio; false when they could not be
    // written (the disk is full), after which nothing more is written.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // Finishes the file and closes it; false when finishing failed. Safe to
    // call again, and on a writer that never opened.
    virtual bool close() = 0;
    // The writer of the next part of the same recording, when the parts of
    // a stream share what the stream said before (an Ogg stream's headers
    // and position); nullptr: a new one of the codec (makePartWriter).
    virtual std::unique_ptr<PartWriter> following() { return nullptr; }
};

// Writes all of `data` to `fd` (retrying interrupted writes); false when
// some of it could not be written.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size);

// AAC in ADTS frames, remuxed into an MP4 (.m4a) file (Mp4PartWriter.cpp).
std::unique_ptr<PartWriter> makeMp4PartWriter();

// Whether a stream of `codec` can be recorded as the station sends it.
bool keptAsIs(Codec codec);
// The writer for a part of a stream of `codec`; nullptr when the stream
// is not kept as it is.
std::unique_ptr<PartWriter> makePartWriter(Codec codec);
// The bytes into the file as they are: MP3's writer, and the file under
// the writers that rework the bytes.
std::unique_ptr<PartWriter> makePlainPartWriter();
// Ogg pages, each file beginning with its stream's headers (OggPartWriter.cpp).
std::unique_ptr<PartWriter> makeOggPartWriter();

} // namespace tolvane::engine
