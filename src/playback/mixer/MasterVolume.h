#pragma once
// The computer's master volume as the main window's volume bar controls it:
// the default PulseAudio sink's channel volumes and its mute switch.
//
// The window holds a volume 0 to 100 and a balance -100 to 100; every change
// writes both channels at once as values 0 to 65535 (channelValues). Those
// values go to PulseAudio unchanged as pa_volume_t, whose 100 % is
// PA_VOLUME_NORM = 65536: 65535 is one step below 100 % (inaudible), what
// the server reports back is exactly what was written (100 -> 65535,
// 50 -> 32767), and the bar's percent is the percent the desktop's own
// volume controls show for the sink (PulseAudio's volume scale is cubic in
// amplitude: 50 % plays at one eighth, as it does from those controls).
//
// Without a sound server, or without a default sink, every write does
// nothing; the window never learns of it. Every exchange with the server is
// bounded (about a second), so a dead or stuck server never freezes the
// window for longer. A lost connection is tried again at a later write, at
// most every few seconds.
//
// Not thread-safe: use it from the user-interface thread only.

#include <cstdint>
#include <memory>
#include <string>

namespace tolvane::playback {

struct ChannelValues {
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    bool operator==(const ChannelValues&) const = default;
};

// value = volume x 65535 / 100; a negative balance lowers the right channel
// to value x (balance + 100) / 100, a positive one the left channel to
// value x (100 - balance) / 100. Every division truncates. Expects volume in
// 0..100 and balance in -100..100.
ChannelValues channelValues(int volume, int balance);

class MasterVolume {
public:
    MasterVolume();
    ~MasterVolume();
    MasterVolume(const MasterVolume&) = delete;
    MasterVolume& operator=(const MasterVolume&) = delete;

    // Connects to the sound server, finds the default sink, switches its
    // mute off and reads its volume and balance. Returns whether a sink was
    // found; on failure the component still works, its writes do nothing.
    bool open();
    bool isOpen() const;
    // The sink that open() found ("" when none).
    std::string sinkName() const;

    // Writes the mute switch.
    void setMute(bool muted);
    // Ignored unless 0 <= volume <= 100; stores it and writes both channels.
    void setVolume(int volume);
    // Ignored unless -100 <= balance <= 100; stores it and writes both
    // channels.
    void setBalance(int balance);

    int volume() const { return volume_; }
    int balance() const { return balance_; }

    // Longest time one exchange with the server may take.
    static constexpr int kTimeoutMs = 1000;
    // Shortest time between two attempts to reach a server that was lost.
    static constexpr int kRetryMs = 3000;

private:
    void writeChannels();
    bool ensureConnected();

    struct Connection;
    std::unique_ptr<Connection> connection_;
    int volume_ = 0;
    int balance_ = 0;
};

} // namespace tolvane::playback
