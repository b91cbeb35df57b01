#include "EncoderFeed.h"

#include "Engine.h"
#include "PartWriter.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace tolvane::engine {

std::vector<std::string> splitCommandLine(const std::string& cmdline) {
    std::vector<std::string> parts;
    std::string current;
    bool inQuotes = false;
    bool have = false;
    for (char c : cmdline) {
        if (c == '"') {
            inQuotes = !inQuotes;
            have = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (have)
                parts.push_back(current);
            current.clear();
            have = false;
        } else {
            current += c;
            have = true;
        }
    }
    if (have)
        parts.push_back(current);
    return parts;
}

std::vector<std::uint8_t> wavHeaderUnknownLength() {
    std::vector<std::uint8_t> h(44, 0);
    std::size_t at = 0;
    auto text = [&](const char* s) {
        for (int i = 0; i < 4; ++i)
            h[at++] = static_cast<std::uint8_t>(s[i]);
    };
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            h[at++] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    auto u16 = [&](std::uint16_t v) {
        h[at++] = static_cast<std::uint8_t>(v);
        h[at++] = static_cast<std::uint8_t>(v >> 8);
    };
    // Sizes are all ones: the length is not known while the stream plays.
    text("RIFF");
    u32(0xFFFFFFFFu);
    text("WAVE");
    text("fmt ");
    u32(16);
    u16(1);             // PCM
    u16(2);             // channels
    u32(44100);         // sample rate
    u32(44100 * 2 * 2); // byte rate
    u16(4);             // block align
    u16(16);            // bits per sample
    text("data");
    u32(0xFFFFFFFFu);
    return h;
}

namespace {

// Starts the program with its input on a pipe; false when it cannot start.
bool spawn(const std::string& cmdline, pid_t& pid, int& fd) {
    const std::vector<std::string> parts = splitCommandLine(cmdline);
    if (parts.empty())
        return false;
    std::vector<char*> argv;
    argv.reserve(parts.size() + 1);
    for (const auto& p : parts)
        argv.push_back(const_cast<char*>(p.c_str()));
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // A name with a slash is taken relative to the current directory; a bare
    // name is looked up in PATH.
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[0]);
    if (rc != 0) {
        close(fds[1]);
        return false;
    }
    fd = fds[1];
    return true;
}

// Waits up to `waitMs` for the program to end; true once it has.
bool reaped(pid_t pid, int waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(5000);
    }
}

// The command line of part `number`: "%n" is its number.
std::string partCommandLine(const std::string& cmdline, int number) {
    std::string out;
    for (std::size_t i = 0; i < cmdline.size(); ++i) {
        if (cmdline[i] == '%' && i + 1 < cmdline.size() && cmdline[i + 1] == 'n') {
            out += std::to_string(number);
            ++i;
        } else {
            out += cmdline[i];
        }
    }
    return out;
}

} // namespace

int EncoderFeed::startFile(const std::string& path, Codec codec, std::shared_ptr<EncoderFeed>& out,
                           bool songParts, const std::string& firstTitle) {
    std::shared_ptr<EncoderFeed> feed(new EncoderFeed());
    feed->cmdline_ = path;
    feed->raw_ = true;
    feed->codec_ = codec;
    feed->songParts_ = songParts;
    feed->partTitle_ = firstTitle;
    feed->file_ = makePartWriter(codec);
    if (!feed->file_)
        return ERROR_NOTAVAIL;
    if (!feed->file_->open(songParts ? partCommandLine(path, 1) : path))
        return ERROR_CREATE;
    feed->writer_ = std::thread([f = feed.get()] { f->writerLoop(); });
    out = std::move(feed);
    return ERROR_OK;
}

void EncoderFeed::pushBytes(const ByteHistory& history, std::uint64_t upTo) {
    if (upTo <= nextByte)
        return;
    const std::size_t size = static_cast<std::size_t>(upTo - nextByte);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(size);
    const bool kept = history.copy(nextByte, upTo, bytes);
    nextByte = upTo;
    std::unique_lock lock(mutex_);
    if (!kept || closing_ || broken_ || queued_ - backlog_ + size > kQueueLimit) {
        dropped_ += size;
        return;
    }
    queue_.push_back({std::move(bytes), false, {}, false});
    queued_ += size;
    lock.unlock();
    changed_.notify_one();
}

void EncoderFeed::preloadBytes(const ByteHistory& history, std::uint64_t from, std::uint64_t to) {
    std::vector<std::uint8_t> bytes;
    if (to > from && history.copy(from, to, bytes))
        preloadBytes(std::move(bytes));
}

void EncoderFeed::preloadBytes(std::vector<std::uint8_t> bytes) {
    if (bytes.empty())
        return;
    std::unique_lock lock(mutex_);
    queued_ += bytes.size();
    backlog_ += bytes.size();
    queue_.push_back({std::move(bytes), false, {}, true});
    lock.unlock();
    changed_.notify_one();
}

int EncoderFeed::start(const std::string& cmdline, std::shared_ptr<EncoderFeed>& out,
                       bool songParts, const std::string& firstTitle) {
    if (splitCommandLine(cmdline).empty())
        return ERROR_ILLPARAM;
    std::shared_ptr<EncoderFeed> feed(new EncoderFeed());
    feed->cmdline_ = cmdline;
    feed->songParts_ = songParts;
    feed->partTitle_ = firstTitle;
    if (!spawn(songParts ? partCommandLine(cmdline, 1) : cmdline, feed->pid_, feed->fd_))
        return ERROR_CREATE;
    auto header = wavHeaderUnknownLength();
    feed->queued_ = header.size();
    feed->queue_.push_back({std::move(header), false, {}, false});
    feed->writer_ = std::thread([f = feed.get()] { f->writerLoop(); });
    out = std::move(feed);
    return ERROR_OK;
}

EncoderFeed::~EncoderFeed() {
    stop(0, 0);
}

void EncoderFeed::push(const std::int16_t* frames, std::size_t count) {
    const std::size_t bytes = count * 4;
    if (bytes == 0)
        return;
    std::unique_lock lock(mutex_);
    if (closing_ || broken_ || queued_ - backlog_ + bytes > kQueueLimit) {
        dropped_ += bytes;
        return;
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(frames);
    queue_.push_back({std::vector<std::uint8_t>(p, p + bytes), false, {}, false});
    queued_ += bytes;
    lock.unlock();
    changed_.notify_one();
}

void EncoderFeed::preload(const std::int16_t* frames, std::size_t count) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(frames);
    std::unique_lock lock(mutex_);
    queue_.push_back({std::vector<std::uint8_t>(p, p + count * 4), false, {}, true});
    queued_ += count * 4;
    backlog_ += count * 4;
    lock.unlock();
    changed_.notify_one();
}

void EncoderFeed::cut(const std::string& title) {
    if (!songParts_)
        return;
    std::unique_lock lock(mutex_);
    if (closing_ || broken_)
        return;
    queue_.push_back({{}, true, title});
    lock.unlock();
    changed_.notify_one();
}

std::vector<EncoderPart> EncoderFeed::takeParts() {
    std::lock_guard lock(mutex_);
    return std::exchange(finished_, {});
}

// Writer thread, mutex_ held: the part written so far is finished (its
// program has ended) and the next one starts.
bool EncoderFeed::nextPart(const std::string& title) {
    if (raw_)
        return nextFile(title);
    const pid_t pid = pid_;
    const int fd = std::exchange(fd_, -1);
    mutex_.unlock();
    close(fd);
    if (pid > 0 && !reaped(pid, 4000)) {
        kill(pid, SIGKILL);
        reaped(pid, 2000);
    }
    mutex_.lock();
    pid_ = -1;
    partOpen_ = false;
    finished_.push_back({part_, partTitle_});
    ++part_;
    partTitle_ = title;
    if (stopped_)
        return false;
    pid_t next = -1;
    int nextFd = -1;
    if (!spawn(partCommandLine(cmdline_, part_), next, nextFd))
        return false;
    pid_ = next;
    fd_ = nextFd;
    partOpen_ = true;
    auto header = wavHeaderUnknownLength();
    queued_ += header.size();
    queue_.push_front({std::move(header), false, {}, false});
    return true;
}

// The same for a file of the station's own audio. Finishing one and making
// the next happen without the lock: the output thread goes on queueing.
bool EncoderFeed::nextFile(const std::string& title) {
    std::unique_ptr<PartWriter> finished = std::move(file_);
    const std::string path = partCommandLine(cmdline_, part_ + 1);
    const bool stopping = stopped_;
    mutex_.unlock();
    const bool closed = finished->close();
    std::unique_ptr<PartWriter> next;
    if (closed && !stopping) {
        next = finished->following();
        if (!next)
            next = makePartWriter(codec_);
        if (!next->open(path))
            next.reset();
    }
    mutex_.lock();
    partOpen_ = false;
    finished_.push_back({part_, partTitle_});
    ++part_;
    partTitle_ = title;
    if (!next)
        return false;
    file_ = std::move(next);
    partOpen_ = true;
    return true;
}

void EncoderFeed::writerLoop() {
    // A program that stops reading must not kill the player with SIGPIPE:
    // block it on this thread and take back the one a failed write raises.
    sigset_t pipeSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, nullptr);

    std::unique_lock lock(mutex_);
    // The program is gone or will not read: what waits is dropped (held lock).
    const auto giveUp = [this] {
        broken_ = true;
        dropped_ += queued_;
        queue_.clear();
        queued_ = 0;
        backlog_ = 0;
    };
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
        if (queue_.empty())
            break; // closing and drained
        Item item = std::move(queue_.front());
        queue_.pop_front();
        if (item.cut) {
            // nextPart lets go of the lock while the program finishes.
            if (!nextPart(item.title)) {
                giveUp();
                break;
            }
            continue;
        }
        const std::vector<std::uint8_t>& block = item.bytes;
        const int fd = fd_;
        PartWriter* file = file_.get();
        lock.unlock();
        std::size_t done = 0;
        bool failed = false;
        if (file) {
            failed = !file->write(block.data(), block.size());
            done = failed ? 0 : block.size();
        }
        while (!file && done < block.size()) {
            const ssize_t n = write(fd, block.data() + done, block.size() - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                failed = true;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (failed) {
            timespec zero{0, 0};
            sigtimedwait(&pipeSet, nullptr, &zero);
        }
        lock.lock();
        queued_ -= block.size();
        if (item.backlog)
            backlog_ -= block.size();
        written_ += done;
        if (failed) {
            giveUp();
            break;
        }
    }
    writerDone_ = true;
    lock.unlock();
    changed_.notify_all();
}

void EncoderFeed::stop(int drainMs, int exitMs) {
    bool writerDone;
    pid_t pid;
    {
        std::unique_lock lock(mutex_);
        if (stopped_)
            return;
        stopped_ = true;
        closing_ = true;
        changed_.notify_all();
        // Let the queued audio reach the program, for a bounded time.
        changed_.wait_for(lock, std::chrono::milliseconds(drainMs), [this] { return writerDone_; });
        writerDone = writerDone_;
        pid = pid_;
    }
    if (writerDone) {
        // End of input: the program finishes its file and exits.
        if (writer_.joinable())
            writer_.join();
        if (file_)
            file_->close();
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
        if (pid > 0 && !reaped(pid, exitMs)) {
            kill(pid, SIGKILL);
            reaped(pid, 2000);
        }
    } else {
        // The program stopped reading: kill it, which also ends the writer's
        // blocked write with an error.
        if (pid > 0) {
            kill(pid, SIGKILL);
            reaped(pid, 2000);
        }
        if (writer_.joinable())
            writer_.join();
        if (file_)
            file_->close();
        std::lock_guard lock(mutex_);
        if (pid_ > 0 && pid_ != pid) {
            kill(pid_, SIGKILL);
            reaped(pid_, 2000);
        }
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    std::lock_guard lock(mutex_);
    if (songParts_ && partOpen_)
        finished_.push_back({part_, partTitle_});
    partOpen_ = false;
    pid_ = -1;
    broken_ = true;
}

bool EncoderFeed::active() const {
    std::lock_guard lock(mutex_);
    return !stopped_ && !broken_;
}

std::uint64_t EncoderFeed::bytesIn() const {
    std::lock_guard lock(mutex_);
    return written_;
}

std::uint64_t EncoderFeed::bytesQueued() const {
    std::lock_guard lock(mutex_);
    return queued_;
}

std::uint64_t EncoderFeed::bytesDropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

} // namespace tolvane::engine
