#pragma once
// A private X display for tests of the real windows on X: Xvfb, and trayer
// as a notification area.

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvane::test {

// A child process ended by SIGTERM and reaped when the object goes.
struct Child {
    pid_t pid = -1;
    void stop() {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    ~Child() { stop(); }
};

// In a forked child before exec: the child is ended when the test process
// dies, also when it crashes and never runs its destructors.
inline void endWithParent(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
}

// Xvfb on a free display number, with trayer as its notification area when
// asked for. It must outlive the QApplication that connects to it: make it
// first in main(). Qt is pointed at it through DISPLAY and QT_QPA_PLATFORM.
class Desktop {
public:
    explicit Desktop(bool withNotificationArea = true) {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        const pid_t self = getpid();
        xvfb_.pid = fork();
        if (xvfb_.pid == 0) {
            endWithParent(self);
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // Xvfb writes the display number it took once it accepts clients.
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return;
        display_ = ":" + number;
        setenv("DISPLAY", display_.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        // The icon goes through the X notification-area protocol, not a
        // session bus that may belong to someone else's desktop.
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        if (!withNotificationArea) {
            ready_ = true;
            return;
        }
        trayer_.pid = fork();
        if (trayer_.pid == 0) {
            endWithParent(self);
            execlp("trayer", "trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                   "--width", "120", "--heighttype", "pixel", "--height", "28",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        ready_ = trayer_.pid > 0;
    }
    ~Desktop() {
        trayer_.stop();
        xvfb_.stop();
    }
    bool ready() const { return ready_; }
    void removeNotificationArea() { trayer_.stop(); }

private:
    Child xvfb_, trayer_;
    std::string display_;
    bool ready_ = false;
};

} // namespace tolvane::test
