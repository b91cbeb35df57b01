#include "PartWriter.h"

#include "Decoder.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tolvane::engine {
namespace {

// MP3 frames need no container: the bytes go to the file as they are.
class PlainPartWriter final : public PartWriter {
public:
    ~PlainPartWriter() override { close(); }

    bool open(const std::string& path) override {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        return fd_ >= 0;
    }

    bool write(const std::uint8_t* data, std::size_t size) override {
        return fd_ >= 0 && writeAll(fd_, data, size);
    }

    bool close() override {
        if (fd_ < 0)
            return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_ = -1;
};

} // namespace

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool keptAsIs(Codec codec) {
    return codec == Codec::Mp3 || codec == Codec::Aac || codec == Codec::Ogg;
}

std::unique_ptr<PartWriter> makePlainPartWriter() {
    return std::make_unique<PlainPartWriter>();
}

std::unique_ptr<PartWriter> makePartWriter(Codec codec) {
    switch (codec) {
    case Codec::Mp3:
        return makePlainPartWriter();
    case Codec::Aac:
        return makeMp4PartWriter();
    case Codec::Ogg:
        return makeOggPartWriter();
    default:
        return nullptr;
    }
}

} // namespace tolvane::engine
