// An MP3 encoder whose disk fills up: it runs the real encoder with its
// output on a pipe and writes that output to the named file through the
// player's WriteGate, with a fault injected after the number of bytes in
// TOLVANE_TEST_ENCODER_ROOM. When a write fails it says so, as the real
// encoder does, and exits with status 1 without reading its input further.
//
// Usage, as the recorder runs it: faulty_encoder - <output file>

#include "common/WriteGate.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const QString output = QString::fromLocal8Bit(argv[2]);
    bool ok = false;
    const qint64 room = qEnvironmentVariable("TOLVANE_TEST_ENCODER_ROOM").toLongLong(&ok);
    if (ok) {
        tolvane::WriteFault fault;
        fault.bytes = room;
        fault.error = ENOSPC;
        tolvane::injectWriteFault(fault);
    }

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    char lame[] = "/usr/bin/lame";
    char quiet[] = "--quiet";
    char dash[] = "-";
    char* args[] = {lame, quiet, dash, dash, nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, lame, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0)
        return 1;

    const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0)
        return 1;
    tolvane::WriteGate gate(output);
    char buffer[16 * 1024];
    bool failed = false;
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (!gate.write(buffer, n,
                        [out](const char* d, qint64 size) { return ::write(out, d, size); })) {
            failed = true;
            break;
        }
    }
    ::close(out);
    if (failed) {
        std::fputs("Error writing mp3 output\n", stderr);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return failed ? 1 : 0;
}
