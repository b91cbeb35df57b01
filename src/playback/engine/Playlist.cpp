#include "Playlist.h"

#include "Text.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace tolvane::engine {
namespace {

std::string_view pathOf(std::string_view url) {
    const auto scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos)
        return {};
    rest = rest.substr(slash);
    return rest.substr(0, rest.find_first_of("?#"));
}

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           asciiLower(text.substr(text.size() - suffix.size())) == suffix;
}

std::string_view skipBomAndBlanks(std::string_view s) {
    if (s.starts_with("\xEF\xBB\xBF"))
        s.remove_prefix(3);
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    return s;
}

// Splits into lines on CR, LF or CRLF.
std::vector<std::string_view> linesOf(std::string_view body) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= body.size(); ++i) {
        if (i == body.size() || body[i] == '\n' || body[i] == '\r') {
            lines.push_back(body.substr(start, i - start));
            start = i + 1;
        }
    }
    return lines;
}

// Accepts http(s) and the Windows Media schemes (which servers also answer
// over HTTP); resolves relative references.
bool acceptEntry(std::string_view ref, std::string_view base, std::vector<std::string>& out) {
    ref = trim(ref);
    if (ref.empty() || out.size() >= kMaxPlaylistEntries)
        return false;
    std::string url;
    const std::string lower = asciiLower(ref.substr(0, std::min<std::size_t>(ref.size(), 8)));
    if (lower.starts_with("http://") || lower.starts_with("https://")) {
        url = std::string(ref);
    } else if (lower.starts_with("mms://") || lower.starts_with("mmsh://")) {
        url = "http://" + std::string(ref.substr(ref.find("://") + 3));
    } else if (ref.find("://") != std::string_view::npos) {
        return false; // another scheme (file, rtsp, ...)
    } else {
        url = resolveUrl(base, ref);
        if (url.empty())
            return false;
    }
    if (url.size() > 4096)
        return false;
    out.push_back(std::move(url));
    return true;
}

std::string xmlUnescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        const auto semi = s.find(';', i);
        if (semi == std::string_view::npos || semi - i > 8) {
            out += s[i];
            continue;
        }
        const std::string_view ent = s.substr(i + 1, semi - i - 1);
        if (ent == "amp")
            out += '&';
        else if (ent == "lt")
            out += '<';
        else if (ent == "gt")
            out += '>';
        else if (ent == "quot")
            out += '"';
        else if (ent == "apos")
            out += '\'';
        else {
            out += s.substr(i, semi - i + 1);
        }
        i = semi;
    }
    return out;
}

std::vector<std::string> parsePls(std::string_view body, std::string_view base) {
    // FileN=address, in the order of N; a repeated N keeps its first address.
    std::map<long, std::string_view> files;
    for (std::string_view line : linesOf(body)) {
        line = trim(line);
        if (!startsWithNoCase(line, "file"))
            continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view num = trim(line.substr(4, eq - 4));
        long n = 0;
        const auto [end, ec] = std::from_chars(num.data(), num.data() + num.size(), n);
        if (ec != std::errc() || end != num.data() + num.size())
            continue;
        files.emplace(n, line.substr(eq + 1));
    }
    std::vector<std::string> out;
    for (auto& [n, ref] : files)
        acceptEntry(ref, base, out);
    return out;
}

std::vector<std::string> parseM3u(std::string_view body, std::string_view base) {
    std::vector<std::string> out;
    for (std::string_view line : linesOf(skipBomAndBlanks(body))) {
        line = trim(line);
        if (line.empty() || line.front() == '#')
            continue;
        acceptEntry(line, base, out);
    }
    return out;
}

std::vector<std::string> parseAsx(std::string_view body, std::string_view base) {
    // <ref href="..."/> and <entryref href="..."/>, any letter case, either quote.
    std::vector<std::string> out;
    const std::string lower = asciiLower(body);
    std::size_t pos = 0;
    while ((pos = lower.find('<', pos)) != std::string::npos) {
        ++pos;
        std::size_t name = pos;
        while (name < lower.size() && lower[name] == ' ')
            ++name;
        const bool ref =
            lower.compare(name, 3, "ref") == 0 &&
            (name + 3 < lower.size() && (lower[name + 3] == ' ' || lower[name + 3] == '\t' ||
                                         lower[name + 3] == '\n' || lower[name + 3] == '\r'));
        const bool entryref = lower.compare(name, 8, "entryref") == 0;
        if (!ref && !entryref)
            continue;
        const auto close = lower.find('>', name);
        if (close == std::string::npos)
            break;
        const auto href = lower.find("href", name);
        if (href == std::string::npos || href > close)
            continue;
        auto q = lower.find_first_of("\"'", href);
        if (q == std::string::npos || q > close)
            continue;
        const char quote = lower[q];
        const auto qend = lower.find(quote, q + 1);
        if (qend == std::string::npos)
            break;
        acceptEntry(xmlUnescape(body.substr(q + 1, qend - q - 1)), base, out);
        pos = qend;
    }
    return out;
}

} // namespace

bool isAudioContentType(std::string_view ct) {
    static const char* const kTypes[] = {"audio/mpeg",      "audio/mp3",
                                         "audio/mpeg3",     "audio/x-mpeg",
                                         "audio/aac",       "audio/aacp",
                                         "audio/x-aac",     "audio/x-ms-wma",
                                         "video/x-ms-asf",  "application/vnd.ms-asf",
                                         "application/ogg", "audio/ogg",
                                         "audio/vorbis",    "audio/opus",
                                         "video/ogg",       "audio/flac",
                                         "audio/x-flac",    "audio/x-wav",
                                         "audio/wav"};
    for (const char* t : kTypes)
        if (ct == t)
            return true;
    return false;
}

PlaylistKind playlistKindFor(std::string_view url, std::string_view ct) {
    if (ct == "audio/x-scpls" || ct == "audio/scpls" || ct == "application/pls+xml")
        return PlaylistKind::Pls;
    if (ct == "audio/x-mpegurl" || ct == "audio/mpegurl" || ct == "application/x-mpegurl" ||
        ct == "application/vnd.apple.mpegurl" || ct == "audio/m3u" || ct == "audio/x-m3u")
        return PlaylistKind::M3u;
    if (ct == "video/x-ms-asx" || ct == "audio/x-ms-wax" || ct == "video/x-ms-wvx" ||
        ct == "video/x-ms-wax")
        return PlaylistKind::Asx;
    if (isAudioContentType(ct))
        return PlaylistKind::None;
    const std::string_view path = pathOf(url);
    if (endsWithNoCase(path, ".pls"))
        return PlaylistKind::Pls;
    if (endsWithNoCase(path, ".m3u") || endsWithNoCase(path, ".m3u8"))
        return PlaylistKind::M3u;
    if (endsWithNoCase(path, ".asx") || endsWithNoCase(path, ".wax") ||
        endsWithNoCase(path, ".wvx"))
        return PlaylistKind::Asx;
    return PlaylistKind::None;
}

PlaylistKind sniffPlaylist(std::string_view first) {
    first = skipBomAndBlanks(first);
    if (startsWithNoCase(first, "[playlist]"))
        return PlaylistKind::Pls;
    if (startsWithNoCase(first, "#EXTM3U"))
        return PlaylistKind::M3u;
    if (startsWithNoCase(first, "<asx"))
        return PlaylistKind::Asx;
    return PlaylistKind::None;
}

std::vector<std::string> parsePlaylist(PlaylistKind kind, std::string_view body,
                                       std::string_view baseUrl) {
    if (body.size() > kMaxPlaylistBytes)
        body = body.substr(0, kMaxPlaylistBytes);
    // A list named by its address may still be another kind inside.
    const PlaylistKind sniffed = sniffPlaylist(body);
    if (sniffed != PlaylistKind::None)
        kind = sniffed;
    switch (kind) {
    case PlaylistKind::Pls:
        return parsePls(body, baseUrl);
    case PlaylistKind::M3u:
        return parseM3u(body, baseUrl);
    case PlaylistKind::Asx:
        return parseAsx(body, baseUrl);
    case PlaylistKind::None:
        break;
    }
    return {};
}

std::string resolveUrl(std::string_view base, std::string_view ref) {
    const auto scheme = base.find("://");
    if (scheme == std::string_view::npos)
        return {};
    const auto hostStart = scheme + 3;
    const auto pathStart = base.find('/', hostStart);
    const std::string_view origin =
        pathStart == std::string_view::npos ? base : base.substr(0, pathStart);
    if (ref.starts_with("//"))
        return std::string(base.substr(0, scheme + 1)) + std::string(ref);
    if (ref.starts_with("/"))
        return std::string(origin) + std::string(ref);
    std::string_view path =
        pathStart == std::string_view::npos ? std::string_view("/") : base.substr(pathStart);
    path = path.substr(0, path.find_first_of("?#"));
    path = path.substr(0, path.rfind('/') + 1);
    return std::string(origin) + std::string(path) + std::string(ref);
}

} // namespace tolvane::engine
