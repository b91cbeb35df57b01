#include "Stream.h"

namespace tolvane::engine {

class StreamImpl {
public:
    DWORD handle = 0;
};

Stream::Stream() : impl_(std::make_unique<StreamImpl>()) {}
Stream::~Stream() {
    shutdown();
}

int Stream::open(const std::string& url, const NetConfig& config, DWORD flags, DOWNLOADPROC proc,
                 void* user, const std::atomic<bool>& cancel, std::shared_ptr<Stream>& out) {
    (void)url, (void)config, (void)flags, (void)proc, (void)user, (void)cancel, (void)out;
    return ERROR_NOTAVAIL;
}

void Stream::setHandle(DWORD handle) {
    impl_->handle = handle;
}
DWORD Stream::handle() const {
    return impl_->handle;
}
void Stream::shutdown() {}
std::optional<QWORD> Stream::filePosition(DWORD, int& error) const {
    error = ERROR_NOTAVAIL;
    return std::nullopt;
}
const char* Stream::tags(DWORD) {
    return nullptr;
}
bool Stream::addSync(HSYNC, DWORD, SYNCPROC, void*) {
    return false;
}
std::size_t Stream::readPcm(std::int16_t*, std::size_t) {
    return 0;
}
bool Stream::drained() const {
    return true;
}

} // namespace tolvane::engine
