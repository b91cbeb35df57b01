#pragma once
// What the benchmarks that run the player in their own process share: a
// message sink with nobody to click, an event-loop pump, and a temporary
// program folder holding one or more stations that becomes the current
// directory while it lives (the player names every file from there).

#include "common/Messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace tolvane::bench {

// Messages go to stderr: the benchmark has nobody to click them away, and a
// question is answered "no".
class SilentMessages final : public MessageSink {
public:
    SilentMessages() { setMessageSink(this); }
    ~SilentMessages() override { setMessageSink(nullptr); }
    SilentMessages(const SilentMessages&) = delete;
    SilentMessages& operator=(const SilentMessages&) = delete;
    void show(const Message& m) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
    }
    bool confirm(const QString&, const QString&, ConfirmButtons) override { return false; }
};

// Turns the event loop until `done` holds or `ms` pass; false on time-out.
inline bool pumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

// A program folder with the list files and the given stations (name, URL),
// all of genre "Test" in English. The current directory while it lives.
class BenchProgramFolder {
public:
    explicit BenchProgramFolder(const std::vector<std::pair<QString, QString>>& stations)
        : previous_(QDir::currentPath()) {
        QDir(dir_.path()).mkpath(QStringLiteral("settings"));
        QByteArray list;
        for (const auto& [name, url] : stations)
            list += "[" + name.toUtf8() +
                    "]\r\ngenre=Test\r\nlanguage=English\r\nstreaming=" + url.toUtf8() +
                    "\r\nbitrate=128\r\n";
        write(QStringLiteral("radiolist.dat"), list);
        write(QStringLiteral("settings/language.dat"), "English\r\n");
        write(QStringLiteral("settings/genre.dat"), "Test\r\n");
        QDir::setCurrent(dir_.path());
    }
    ~BenchProgramFolder() { QDir::setCurrent(previous_); }
    BenchProgramFolder(const BenchProgramFolder&) = delete;
    BenchProgramFolder& operator=(const BenchProgramFolder&) = delete;

    bool write(const QString& name, const QByteArray& bytes) const {
        QFile f(dir_.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

} // namespace tolvane::bench
