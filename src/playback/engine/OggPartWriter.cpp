// An Ogg station's pages into the files of a recording: the pages go
// through an OggWriter, which every part of the recording shares, so that
// each file begins with the headers of the stream it holds and counts its
// granule positions from its own start.

#include "OggPages.h"
#include "PartWriter.h"

namespace tolvane::engine {
namespace {

class OggPartWriter final : public PartWriter {
public:
    explicit OggPartWriter(std::shared_ptr<ogg::OggWriter> pages)
        : pages_(std::move(pages)), file_(makePlainPartWriter()) {}
    ~OggPartWriter() override { close(); }

    bool open(const std::string& path) override {
        opened_ = file_->open(path);
        return opened_;
    }

    bool write(const std::uint8_t* data, std::size_t size) override {
        out_.clear();
        pages_->feed(data, size, out_);
        return out_.empty() || file_->write(out_.data(), out_.size());
    }

    // The file's last page, held back until now, is marked as its end.
    bool close() override {
        bool ended = true;
        if (opened_) {
            opened_ = false;
            out_.clear();
            pages_->endFile(out_);
            ended = out_.empty() || file_->write(out_.data(), out_.size());
        }
        return file_->close() && ended;
    }

    std::unique_ptr<PartWriter> following() override {
        return std::make_unique<OggPartWriter>(pages_);
    }

private:
    std::shared_ptr<ogg::OggWriter> pages_;
    std::unique_ptr<PartWriter> file_;
    std::vector<std::uint8_t> out_;
    bool opened_ = false;
};

} // namespace

std::unique_ptr<PartWriter> makeOggPartWriter() {
    return std::make_unique<OggPartWriter>(std::make_shared<ogg::OggWriter>());
}

} // namespace tolvane::engine
