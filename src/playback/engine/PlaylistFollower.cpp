// The playlist follower: opens a stream's address, and when the server
// answers with a playlist (PLS, M3U, M3U8, ASX) opens its entries in turn,
// nested at most three deep and at most sixteen tried in all; the first
// entry that plays wins. An HLS playlist is no list of streams: a master
// playlist opens its variant nearest 128 kbit/s, a media playlist is played
// as one stream of its segments.

#include "StreamImpl.h"

#include "Text.h"

#include <set>

namespace tolvane::engine {

namespace {

// Playlist entries tried in all, across every level of nesting.
constexpr int kMaxEntriesTried = 16;

struct OpenContext {
    const NetConfig& config;
    DWORD flags;
    DOWNLOADPROC proc;
    void* user;
    const std::atomic<bool>& cancel;
    std::set<std::string> visited;
    int tried = 0;
};

// The variant of an HLS master playlist that the engine plays.
constexpr long kHlsPreferredBitrate = 128000;

int openAt(const std::string& url, int depth, OpenContext& ctx, std::shared_ptr<StreamImpl>& out,
           const HlsMediaPlaylist* hls = nullptr);

// An HLS media playlist as one stream of its segments.
int openHls(std::string_view body, const std::string& url, int depth, OpenContext& ctx,
            std::shared_ptr<StreamImpl>& out) {
    const auto playlist = parseHlsMedia(body, url);
    if (!playlist || playlist->unsupported || (playlist->segments.empty() && playlist->endList))
        return ERROR_FILEFORM;
    return openAt(url, depth, ctx, out, &*playlist);
}

int openAt(const std::string& url, int depth, OpenContext& ctx, std::shared_ptr<StreamImpl>& out,
           const HlsMediaPlaylist* hls) {
    if (ctx.cancel)
        return ERROR_UNKNOWN;
    ctx.visited.insert(url);
    ++ctx.tried;
    auto impl = std::make_shared<StreamImpl>(url, ctx.config, ctx.flags, ctx.proc, ctx.user);
    if (hls)
        impl->setHls(*hls);
    int rc = impl->start();
    if (rc != ERROR_OK)
        return rc;
    int error = ERROR_OK;
    const auto state = impl->waitOpen(ctx.cancel, error);
    if (state == StreamImpl::OpenState::Audio) {
        impl->waitPrebuffer(ctx.cancel);
        out = std::move(impl);
        return ERROR_OK;
    }
    if (state == StreamImpl::OpenState::Failed) {
        impl->shutdown();
        return error != ERROR_OK ? error : ERROR_FILEOPEN;
    }
    // A playlist: its entries in turn, the first that opens wins.
    const std::string body = impl->playlistBody();
    const std::string base = impl->effectiveUrl();
    const PlaylistKind kind = impl->playlistKind();
    impl->shutdown();
    impl.reset();
    if (depth >= kMaxPlaylistDepth)
        return ERROR_FILEFORM;
    switch (hlsKindOf(body)) {
    case HlsKind::Media:
        return openHls(body, base, depth + 1, ctx, out);
    case HlsKind::Master: {
        const auto variant = nearestVariant(parseHlsMaster(body, base), kHlsPreferredBitrate);
        if (!variant || ctx.visited.count(variant->url) || ctx.tried >= kMaxEntriesTried)
            return ERROR_FILEFORM;
        return openAt(variant->url, depth + 1, ctx, out);
    }
    case HlsKind::None:
        break;
    }
    const auto entries = parsePlaylist(kind, body, base);
    if (entries.empty())
        return ERROR_FILEFORM;
    int last = ERROR_FILEFORM;
    for (const auto& entry : entries) {
        if (ctx.visited.count(entry))
            continue; // a playlist that names itself
        if (ctx.tried >= kMaxEntriesTried || ctx.cancel)
            break;
        last = openAt(entry, depth + 1, ctx, out);
        if (last == ERROR_OK)
            return ERROR_OK;
    }
    return last;
}

} // namespace

int Stream::open(const std::string& url, const NetConfig& config, DWORD flags, DOWNLOADPROC proc,
                 void* user, const std::atomic<bool>& cancel, std::shared_ptr<Stream>& out) {
    const std::string lower = asciiLower(url.substr(0, 8));
    if (!lower.starts_with("http://") && !lower.starts_with("https://"))
        return ERROR_FILEOPEN;
    OpenContext ctx{config, flags, proc, user, cancel, {}, 0};
    std::shared_ptr<StreamImpl> impl;
    const int rc = openAt(url, 0, ctx, impl);
    if (rc != ERROR_OK)
        return rc;
    std::shared_ptr<Stream> stream(new Stream());
    stream->impl_ = std::move(impl);
    out = std::move(stream);
    return ERROR_OK;
}

} // namespace tolvane::engine
