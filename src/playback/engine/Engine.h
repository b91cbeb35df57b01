#pragma once
// Tolvane's audio engine: opens internet-radio streams (HTTP/ICY, playlists),
// decodes them to 44100 Hz stereo 16-bit, plays them through an output
// driver, measures their level and feeds them to an external encoder.
//
// The calls mirror the ones the player makes, with the same arguments,
// results and constant values. Every call is safe from any thread at once
// (the user-interface thread and the stream opener's workers). Callbacks run
// on engine threads and must not call back into a window directly.
//
// Inside, each stream has a transport thread (libcurl: connect, head,
// playlists, ICY metadata split off) filling a bounded download buffer, and
// a decoding thread (libmpg123 for MP3, FFmpeg for the rest) filling half a
// second of 44100 Hz stereo 16-bit audio; the output driver (PulseAudio, or
// the null output for tests) pulls and mixes the playing channels.
//
// Callbacks: the download callback runs on the stream's transport thread;
// sync callbacks on the stream's title thread, when the audio that follows
// the new title is heard (what the output and its sound server hold counted),
// except for the stream's first title, which is told at once on the thread
// that found it (transport or decoding). They may call the engine, StreamFree on their own stream
// included. None is called for a stream once StreamFree (or Free) has begun
// on it, and those calls return after any callback in progress has ended, or
// after a bounded wait (3 s) when a callback blocks, never hanging.
//
// Time limits on servers (all configurable): connecting, CONFIG_NET_TIMEOUT
// (10 s); the response head must be complete within that plus the read
// time-out; a stream that sends nothing for CONFIG_NET_READTIMEOUT (15 s), or
// over such a span less than an eighth of its bitrate, while the engine
// wants data, ends. Redirects: at most 5. Playlists nest at most 3 deep and
// at most 16 entries are tried. Head lines up to 8 KB, 200 lines, 64 KB in
// all; metadata up to 4080 bytes a block; icy-metaint is ignored unless
// 16..1048576.

#include "Text.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tolvane::engine {

using DWORD = std::uint32_t;
using QWORD = std::uint64_t;
using HSTREAM = DWORD; // 0 means none
using HSYNC = DWORD;   // 0 means none
using BOOL = int;

// Download callback: called once with the response header lines (status line
// first, each NUL-terminated, an empty one last) and length 0; afterwards as
// data arrives. Runs on the stream's transport thread.
using DOWNLOADPROC = void (*)(const void* buffer, DWORD length, void* user);
// Sync callback: runs on an engine thread at the event it was set for.
using SYNCPROC = void (*)(HSYNC handle, DWORD channel, DWORD data, void* user);

// The engine's version: upper 16 bits 0x0204.
inline constexpr DWORD ENGINE_VERSION = 0x02040000;

// Configuration options.
inline constexpr DWORD CONFIG_NET_TIMEOUT = 11; // connect time-out, ms (default 10000)
inline constexpr DWORD CONFIG_NET_BUFFER = 12;  // download buffer, ms of audio (default 5000)
inline constexpr DWORD CONFIG_NET_PREBUF = 15;  // % of the buffer filled before opening returns
inline constexpr DWORD CONFIG_NET_AGENT = 16;   // SetConfigPtr: the User-Agent text
inline constexpr DWORD CONFIG_NET_PROXY = 17;   // SetConfigPtr: "[user:pass@]host:port"
inline constexpr DWORD CONFIG_NET_PLAYLIST = 21;
inline constexpr DWORD CONFIG_NET_READTIMEOUT = 37; // silence that ends a stream, ms (15000)
// SetConfigPtr: a PEM file of the only certificate authorities that https
// servers are checked against; nullptr (the default) for the system's store.
inline constexpr DWORD CONFIG_NET_CAFILE = 0x10100;
// 1: every playing stream keeps the audio of the song being heard (since its
// last title change, else since its first audio), the latest 30 minutes or
// 64 MB of it at most, for an encoder started with ENCODE_FROMSTART. 0 (the
// default): nothing is kept. SONG_BUFFER_OWN_FORMAT: the same for a file of
// the station's own audio (Encode_StartFile): a stream whose own frames can
// be recorded keeps only those, not their decoded audio as well.
inline constexpr DWORD CONFIG_SONG_BUFFER = 0x10200;
inline constexpr DWORD SONG_BUFFER_OWN_FORMAT = 2;

// Stream flags.
inline constexpr DWORD STREAM_STATUS = 0x800000;

// File positions.
inline constexpr DWORD FILEPOS_CURRENT = 0;
inline constexpr DWORD FILEPOS_DOWNLOAD = 1;
inline constexpr DWORD FILEPOS_END = 2;

// Tag kinds.
inline constexpr DWORD TAG_HTTP = 3;
inline constexpr DWORD TAG_ICY = 4;
inline constexpr DWORD TAG_META = 5;

// Sync kinds.
inline constexpr DWORD SYNC_META = 4;

// Encoder flags.
inline constexpr DWORD ENCODE_AUTOFREE = 0x40000;
// A part per song: where a title comes into force, at the first frame of the
// new song as it goes to the output, the program's input ends and the
// program starts again for the next part, which begins with that frame. The
// command line's "%n" is the part's number (1, 2, ...).
inline constexpr DWORD ENCODE_SONGS = 0x1000000;
// The encoder's input begins with what the stream kept of the song being
// heard (CONFIG_SONG_BUFFER), then goes on with the audio as it plays; that
// backlog does not count against the queue's limit.
inline constexpr DWORD ENCODE_FROMSTART = 0x2000000;
// Encode_GetCount kinds.
inline constexpr DWORD ENCODE_COUNT_IN = 0;         // bytes written to the encoder
inline constexpr DWORD ENCODE_COUNT_QUEUE = 2;      // bytes waiting in the queue
inline constexpr DWORD ENCODE_COUNT_QUEUE_FAIL = 4; // bytes dropped (queue full)
// Encode_IsActive and ChannelIsActive results.
inline constexpr DWORD ACTIVE_STOPPED = 0;
inline constexpr DWORD ACTIVE_PLAYING = 1;
inline constexpr DWORD ACTIVE_STALLED = 2; // ChannelIsActive: playing, but nothing to play

// Error codes returned by ErrorGetCode().
inline constexpr int ERROR_OK = 0;
inline constexpr int ERROR_MEM = 1;
inline constexpr int ERROR_FILEOPEN = 2;
inline constexpr int ERROR_DRIVER = 3;
inline constexpr int ERROR_SSL = 10; // no secure connection: the certificate did not verify
inline constexpr int ERROR_HANDLE = 5;
inline constexpr int ERROR_INIT = 8;
inline constexpr int ERROR_START = 9;
inline constexpr int ERROR_ALREADY = 14;
inline constexpr int ERROR_ILLPARAM = 20;
inline constexpr int ERROR_ILLTYPE = 19;
inline constexpr int ERROR_DEVICE = 23;
inline constexpr int ERROR_NOPLAY = 24;
inline constexpr int ERROR_NONET = 32;
inline constexpr int ERROR_CREATE = 33;
inline constexpr int ERROR_NOTAVAIL = 37;
inline constexpr int ERROR_TIMEOUT = 40;
inline constexpr int ERROR_FILEFORM = 41;
inline constexpr int ERROR_CODEC = 44;
inline constexpr int ERROR_ENDED = 45;
inline constexpr int ERROR_PROTOCOL = 48;
inline constexpr int ERROR_UNKNOWN = -1;

// Which output the engine plays to; chosen by the code that creates it.
enum class OutputKind {
    PulseAudio, // the default sink of the PulseAudio (or PipeWire pulse) server
    Null,       // keeps real time but discards the audio; for tests
};

// What an opened stream turned out to be (StreamGetInfo). Filled by the
// stream's transport thread (the address, the head) and its decoding thread
// (the format, the measured rate); a copy taken under the stream's locks.
struct StreamInfo {
    // "MP3", "AAC", "HE-AAC", "HE-AAC v2", "WMA", "Vorbis", "Opus", "FLAC",
    // else the decoder's own name in capitals; empty before the first audio.
    std::string codec;
    // "Ogg", "ASF", "ADTS", "MPEG-TS", "MP4"; empty for a bare MP3 or FLAC
    // stream.
    std::string container;
    int headerKbps = 0;   // the icy-br header; 0 without a sane one
    int codecKbps = 0;    // from the codec's or container's own header; 0 when it says none
    int measuredKbps = 0; // measured over what was decoded (not for MP3); 0 until then
    int sampleRate = 0;   // of the decoded stream, before conversion to 44100 Hz
    int channels = 0;
    bool icyMetadata = false; // icy-metaint present: titles come between the audio
    bool tagTitles = false;   // a title came in the stream's own tags
    // The address that plays, after playlists and redirects (an HLS
    // stream's media playlist), and whether its connection is encrypted.
    std::string url;
    bool encrypted = false;
};

// One part of an encoder started with ENCODE_SONGS (Encode_TakeParts).
struct EncoderPart {
    int number = 0;    // its "%n"
    std::string title; // the metadata text (as TAG_META) in force at its first frame
};

class EngineImpl;
class NullOutputControl; // Output.h

class Engine {
public:
    explicit Engine(OutputKind output);
    ~Engine(); // calls Free()
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    OutputKind output() const;
    // The null output's test controls (Output.h); nullptr for other outputs.
    NullOutputControl* nullOutput();

    // Formats are built in: loading a plug-in always succeeds (returns a
    // nonzero handle) and changes nothing.
    DWORD PluginLoad(const char* file, DWORD flags);
    DWORD GetVersion();
    // device -1 is the default output. Fails with ERROR_DEVICE/ERROR_INIT
    // when there is no sound server; ERROR_ALREADY when already initialised.
    BOOL Init(int device, DWORD freq, DWORD flags, void* win, void* clsid);
    BOOL SetConfig(DWORD option, DWORD value);
    BOOL SetConfigPtr(DWORD option, const void* value);
    // Releases every stream and encoder. Never hangs.
    BOOL Free();
    // Pause and resume all output (immediate; resumes where it paused).
    BOOL Stop();
    BOOL Start();

    // Blocks until connected and the first audio is decoded, or failed;
    // returns a handle or 0 with ErrorGetCode() set: ERROR_FILEOPEN (refused,
    // unknown host, HTTP error status, too many redirects, not http/https),
    // ERROR_SSL (an https server whose certificate does not verify),
    // ERROR_TIMEOUT, ERROR_FILEFORM (not audio, or audio in a format the
    // engine does not play, a bad head, a playlist with nothing playable or
    // too deep), ERROR_CODEC (no decoder for the stream's codec), ERROR_INIT
    // (not initialised, or Free() was called meanwhile, which ends a pending
    // opening at once).
    //
    // What plays: MP3, AAC and HE-AAC (ADTS), WMA (ASF), Vorbis, Opus and
    // FLAC in Ogg, FLAC, and HLS (a master playlist's variant nearest
    // 128 kbit/s; AAC, MPEG-TS or fragmented MP4 segments, played as one
    // stream while the live playlist is followed), over http and https, through PLS, M3U,
    // M3U8 and ASX playlists. Titles come from ICY metadata, else from the
    // stream's own tags (Vorbis comments, ID3).
    // With STREAM_STATUS, `proc` is called once with the response head
    // (status line first, each line NUL-terminated, an empty line last) and
    // length 0 before this returns; then with the audio bytes as they are
    // downloaded (metadata removed); then once with (nullptr, 0) when the
    // download ends by itself.
    HSTREAM StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC proc,
                            void* user);
    // The same for a station known to send its texts in a character set of
    // its own: its ICY titles and header lines that are not plain ASCII go
    // through `decodeText` (on the stream's transport thread) instead of the
    // guess (UTF-8, else ISO-8859-1). Titles from the stream's own tags are
    // UTF-8 by their format and are not touched. Empty: the guess.
    HSTREAM StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC proc,
                            void* user, TextDecoder decodeText);
    BOOL StreamFree(HSTREAM handle);
    // Byte counts of the download buffer; (QWORD)-1 on failure.
    //   FILEPOS_END:      the buffer's length: CONFIG_NET_BUFFER ms at the
    //                     stream's icy-br (128 kbit/s when it sends none)
    //                     until the decoder has measured the stream's real
    //                     rate (Vorbis, Opus, FLAC, AAC: a VBR stream often
    //                     sends far below its nominal rate), then at that
    //                     rate; 8 KB to 4 MB. A full buffer holds the
    //                     download back.
    //   FILEPOS_DOWNLOAD: audio bytes downloaded so far.
    //   FILEPOS_CURRENT:  bytes the decoder has taken so far.
    // So (DOWNLOAD - CURRENT) * 100 / END is the buffer's fill. The decoder
    // takes bytes ahead of play (half a second of audio) even before
    // ChannelPlay. Once the download has ended (the server closed, or sent
    // nothing for the read time-out) FILEPOS_END fails with ERROR_NOTAVAIL:
    // there is nothing more to wait for. A loop that buffers until the fill
    // passes 60 % therefore always ends: at once on an Icecast burst, after
    // about 3 s on a server that sends in real time, and at the latest when a
    // stalled server's read time-out ends the download; what was downloaded
    // then still plays.
    QWORD StreamGetFilePosition(HSTREAM handle, DWORD mode);
    // Copies what the stream turned out to be into `info` (Stream info
    // above). Fails with ERROR_HANDLE or ERROR_ILLPARAM (no `info`).
    BOOL StreamGetInfo(HSTREAM handle, StreamInfo* info);

    // Header lines (TAG_ICY/TAG_HTTP) or the metadata text in force where the
    // listener is (TAG_META): a title changes when the audio after it is
    // heard, and the stream's first title holds from its first audio, so a
    // read after buffering names what starts playing. nullptr when there are
    // none. A copy of the calling thread's own: valid until this thread's
    // next ChannelGetTags, whatever the stream does meanwhile.
    const char* ChannelGetTags(DWORD handle, DWORD tags);
    HSYNC ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC proc, void* user);
    BOOL ChannelPlay(DWORD handle, BOOL restart);
    BOOL ChannelStop(DWORD handle);
    // Peak of the latest output block (its last 20 ms): left in the low 16
    // bits, right in the high 16, each 0..32768; 0 while a playing channel
    // waits for data; 0xFFFFFFFF on failure: ERROR_HANDLE, or ERROR_NOPLAY
    // when the channel is stopped, has ended, or the output is paused.
    DWORD ChannelGetLevel(DWORD handle);
    // ACTIVE_PLAYING while the channel plays and has decoded audio to play;
    // ACTIVE_STALLED while it plays but has none yet (the download is
    // behind or has stalled); ACTIVE_STOPPED when it was never played, was
    // stopped, or has played out everything its download brought (or the
    // handle is unknown: ERROR_HANDLE).
    DWORD ChannelIsActive(DWORD handle);

    // Starts the command line (program and arguments split on blanks, no
    // shell, current directory inherited; a program name with a slash is
    // taken relative to it) and feeds it a WAV header for 44100 Hz stereo
    // 16-bit of unknown length and the stream's audio as it plays on its
    // standard input. Returns the encoder's handle, or 0 (ERROR_CREATE when
    // the program cannot be started). A slow encoder never stalls playback:
    // at most about 3 s of audio wait for it, the rest is dropped and counted
    // (Encode_GetCount). Freeing the stream stops its encoders.
    DWORD Encode_Start(DWORD handle, const char* cmdline, DWORD flags, void* proc, void* user);
    // Records the stream's own audio as the station sends it, without
    // decoding: its MP3 frames, from the one being heard (with
    // ENCODE_FROMSTART, from the song's first one, as far as kept), frame by
    // frame as they are heard, into `path`, a file made anew (with
    // ENCODE_SONGS a file per song, "%n" its number, each beginning with the
    // frame its song begins with). An Ogg stream's pages (Vorbis, Opus,
    // FLAC) likewise, page by page, each file beginning with the headers of
    // its logical stream, its pages numbered and its granule positions
    // counted from its start; a chained stream's file per song begins with
    // the headers of the song's own stream. An encoder like Encode_Start's
    // otherwise. Fails with ERROR_NOTAVAIL for a stream in any other format, and
    // ERROR_CREATE when the file cannot be made.
    DWORD Encode_StartFile(DWORD handle, const char* path, DWORD flags);
    // Closes the encoder's input (handle: an encoder, or a stream for all of
    // its encoders) and returns once the program has exited; waits at most
    // 4 s for queued audio to go and 4 s for the exit, then kills it.
    BOOL Encode_Stop(DWORD handle);
    // ENCODE_COUNT_* for an encoder (or the first encoder of a stream);
    // (QWORD)-1 on failure.
    QWORD Encode_GetCount(DWORD handle, DWORD count);
    // ACTIVE_PLAYING while the encoder runs, ACTIVE_STOPPED otherwise.
    DWORD Encode_IsActive(DWORD handle);
    // The parts of an ENCODE_SONGS encoder whose program has finished its
    // file, each once, in order; after the encoder has stopped (by
    // Encode_Stop or with its stream), the last one too, until taken. Empty
    // for any other handle.
    std::vector<EncoderPart> Encode_TakeParts(DWORD handle);
    // Moves an encoder (its own handle) to another stream: it goes on with
    // that stream's audio into the same output, and ends with that stream
    // from now on. Fails with ERROR_HANDLE for an unknown encoder or stream,
    // and with ERROR_NOTAVAIL for a file of the station's own audio and a
    // stream whose frames are not of its kind.
    BOOL Encode_SetChannel(DWORD handle, DWORD channel);

    // The error code of the last failed call on this thread.
    int ErrorGetCode();

private:
    // Shared with every call in progress, so a thread still inside a
    // blocking call (an opening, a bounded wait that gave up) never touches
    // freed state when the engine is destroyed meanwhile.
    std::shared_ptr<EngineImpl> impl_;
};

} // namespace tolvane::engine
