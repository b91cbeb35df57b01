#pragma once
// Playlists that stations publish instead of a stream address: PLS, M3U and
// M3U8 lists of streams, and ASX. Pure: the transport fetches, this decides
// and parses.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::engine {

enum class PlaylistKind { None, Pls, M3u, Asx };

// Playlists are small; anything larger is not one.
inline constexpr std::size_t kMaxPlaylistBytes = std::size_t{256} * 1024;
inline constexpr std::size_t kMaxPlaylistEntries = 64;
// A playlist naming a playlist is followed this deep.
inline constexpr int kMaxPlaylistDepth = 3;

// What the address and the content type say. An audio content type wins
// over the address's extension; an unknown one lets the extension decide.
PlaylistKind playlistKindFor(std::string_view url, std::string_view contentType);
// What the first bytes of a body say (None when they look like no playlist).
PlaylistKind sniffPlaylist(std::string_view firstBytes);
// True when the content type names an audio format the decoder knows.
bool isAudioContentType(std::string_view contentType);

// Stream addresses in order, relative ones resolved against `baseUrl`,
// only http and https (mms and mmsh are taken as http).
std::vector<std::string> parsePlaylist(PlaylistKind kind, std::string_view body,
                                       std::string_view baseUrl);

// Resolves `ref` against `base` ("http://h/a/b.pls" + "c.mp3" -> "http://h/a/c.mp3").
std::string resolveUrl(std::string_view base, std::string_view ref);

} // namespace tolvane::engine
