#pragma once
// Process start and end: the engine, the main window (its create and first
// showing steps), the other windows created hidden in their order, and the
// destroy step when the windows go.

#include "Forms.h"
#include "playback/engine/Engine.h"

#include <functional>
#include <memory>

namespace tolvane {

class Mpris;
class TForm1;

class Application {
public:
    struct Options {
        engine::OutputKind output = engine::OutputKind::PulseAudio;
        // Replaces the connection test (tests run without a network).
        std::function<bool()> isConnected;
        // Show the main window (a test may drive it hidden).
        bool showMainWindow = true;
        // Offer the player to media keys and panels on the session bus.
        bool mediaPlayerInterface = true;
    };

    explicit Application(Options options);
    ~Application(); // destroys the windows: runs the destroy step

    // Creates the main window and shows it, then the other windows. False
    // when the create step failed: the program ends without a window.
    bool start();
    // Runs the message loop until the main window closes.
    int exec();

    TForm1* form1() const { return form1_.get(); }
    Forms& forms() { return forms_; }
    // The media player interface, when it is on the session bus.
    Mpris* mpris() const { return mpris_.get(); }
    engine::Engine& engine() { return *engine_; }

    // Destroys every window now (the destroy step runs once).
    void destroyWindows();

private:
    Options options_;
    std::unique_ptr<engine::Engine> engine_;
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<Mpris> mpris_;
    Forms forms_;
};

} // namespace tolvane
