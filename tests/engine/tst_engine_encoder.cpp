// The encoder feed: a program started without a shell gets a WAV header and
// the stream's audio on its standard input; a stuck one never stalls
// playback; stopping waits for it (bounded); the real lame makes an MP3 of
// the right length.

#include "AudioSamples.h"
#include "EngineTestUtil.h"
#include "StreamServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <memory>

using namespace tolvane::engine;
using namespace tolvane::test;

class EngineEncoderTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestFolder> folder_;
    std::unique_ptr<StreamServer> server_;
    std::unique_ptr<Engine> engine_;
    std::string mp3_;
    HSTREAM stream_ = 0;

    Engine& e() { return *engine_; }

    static QByteArray fileBytes(const QString& name) {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static bool processGone(qint64 pid) { return ::kill(static_cast<pid_t>(pid), 0) != 0; }

private slots:
    void initTestCase() {
        mp3_ = AudioSamples::tone(SampleFormat::Mp3);
        QVERIFY2(!mp3_.empty(), AudioSamples::lastError().c_str());
    }

    void init() {
        folder_ = std::make_unique<TestFolder>();
        server_ = std::make_unique<StreamServer>();
        QVERIFY(server_->start());
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        engine_ = std::make_unique<Engine>(OutputKind::Null);
        QVERIFY(e().Init(-1, 44100, 0, nullptr, nullptr));
        stream_ = e().StreamCreateURL(server_->url("/radio").c_str(), 0, 0, nullptr, nullptr);
        QVERIFY(stream_);
    }

    void cleanup() {
        engine_.reset();
        server_.reset();
        folder_.reset();
    }

    void copyingEncoder_getsWavHeaderThenTheToneAsItPlays() {
        const DWORD enc =
            e().Encode_Start(stream_, "tee captured.wav", ENCODE_AUTOFREE, nullptr, nullptr);
        QVERIFY2(enc, std::to_string(e().ErrorGetCode()).c_str());
        QCOMPARE(e().Encode_IsActive(stream_), ACTIVE_PLAYING);
        // Nothing plays, nothing is fed beyond the header.
        QTest::qWait(300);
        QCOMPARE(e().Encode_GetCount(enc, ENCODE_COUNT_IN), QWORD(44));
        QVERIFY(e().ChannelPlay(stream_, 0));
        QVERIFY(pollUntil(
            [&] { return e().Encode_GetCount(enc, ENCODE_COUNT_IN) > 44 + 44100 * 4; }, 4000));
        QVERIFY(e().Encode_Stop(stream_));
        QCOMPARE(e().Encode_IsActive(enc), ACTIVE_STOPPED);
        const QByteArray wav = fileBytes("captured.wav");
        QVERIFY(wav.size() > 44 + 44100 * 4);
        QCOMPARE(wav.left(4), QByteArray("RIFF"));
        QCOMPARE(wav.mid(36, 4), QByteArray("data"));
        QCOMPARE((wav.size() - 44) % 4, 0);
        // The samples are the tone: left peak near half scale, right near a quarter.
        const auto* pcm = reinterpret_cast<const std::int16_t*>(wav.constData() + 44);
        const qsizetype frames = (wav.size() - 44) / 4;
        int left = 0, right = 0;
        for (qsizetype i = frames / 2; i < frames; ++i) {
            left = std::max(left, std::abs(int(pcm[2 * i])));
            right = std::max(right, std::abs(int(pcm[2 * i + 1])));
        }
        QVERIFY2(std::abs(left - 16384) < 1500, std::to_string(left).c_str());
        QVERIFY2(std::abs(right - 8192) < 1000, std::to_string(right).c_str());
        QCOMPARE(e().Encode_GetCount(enc, ENCODE_COUNT_QUEUE_FAIL),
                 QWORD(-1)); // forgotten after stop
    }

    void stuckEncoder_dropsAndCounts_playbackGoesOn_andStopIsBounded() {
        const DWORD enc = e().Encode_Start(stream_, "sleep 60", 0, nullptr, nullptr);
        QVERIFY(enc);
        e().nullOutput()->speed = 8.0; // fill its queue sooner
        QVERIFY(e().ChannelPlay(stream_, 0));
        QVERIFY(
            pollUntil([&] { return e().Encode_GetCount(enc, ENCODE_COUNT_QUEUE_FAIL) > 0; }, 8000));
        QVERIFY(e().Encode_GetCount(enc, ENCODE_COUNT_QUEUE) <= 3 * 44100 * 4);
        const auto played = e().nullOutput()->framesPlayed.load();
        QVERIFY(pollUntil([&] { return e().nullOutput()->framesPlayed > played + 44100; }, 2000));
        const auto t0 = std::chrono::steady_clock::now();
        QVERIFY(e().Encode_Stop(enc));
        QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(12));
    }

    void missingProgram_failsToStart() {
        QCOMPARE(e().Encode_Start(stream_, "system/no-such-encoder - x.mp3", 0, nullptr, nullptr),
                 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_CREATE);
        QCOMPARE(e().Encode_Start(stream_, "   ", 0, nullptr, nullptr), 0u);
        QCOMPARE(e().Encode_Start(999, "tee x", 0, nullptr, nullptr), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_HANDLE);
        QCOMPARE(e().Encode_Stop(999), 0);
    }

    void freeingTheStream_endsItsEncoder() {
        QVERIFY(e().Encode_Start(stream_, "tee freed.wav", ENCODE_AUTOFREE, nullptr, nullptr));
        QVERIFY(e().ChannelPlay(stream_, 0));
        QTest::qWait(500);
        QVERIFY(e().StreamFree(stream_));
        // tee has exited and its file is complete: its size no longer changes.
        const auto size = QFile("freed.wav").size();
        QVERIFY(size > 44);
        QTest::qWait(200);
        QCOMPARE(QFile("freed.wav").size(), size);
        QCOMPARE(e().Encode_IsActive(stream_), ACTIVE_STOPPED);
    }

    void realLame_underProgramFolder_makesMp3OfTheFedLength() {
        QDir().mkpath("system");
        QDir().mkpath("Recorded");
        QVERIFY(QFile::link("/usr/bin/lame", "system/lame"));
        const DWORD enc = e().Encode_Start(stream_, "system/lame - Recorded/Recording.mp3",
                                           ENCODE_AUTOFREE, nullptr, nullptr);
        QVERIFY(enc);
        e().nullOutput()->speed = 4.0;
        QVERIFY(e().ChannelPlay(stream_, 0));
        QVERIFY(pollUntil(
            [&] { return e().Encode_GetCount(enc, ENCODE_COUNT_IN) > 44 + 3 * 44100 * 4; }, 8000));
        e().Stop();
        QTest::qWait(100);
        const QWORD fed = e().Encode_GetCount(enc, ENCODE_COUNT_IN) +
                          e().Encode_GetCount(enc, ENCODE_COUNT_QUEUE);
        QCOMPARE(e().Encode_GetCount(enc, ENCODE_COUNT_QUEUE_FAIL), QWORD(0));
        QVERIFY(e().Encode_Stop(enc));
        QVERIFY(QFile::exists("Recorded/Recording.mp3"));
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                                "Recorded/Recording.mp3"});
        QVERIFY(probe.waitForFinished(10000));
        const double duration = probe.readAllStandardOutput().trimmed().toDouble();
        const double expected = double(fed - 44) / (44100 * 4);
        QVERIFY2(std::abs(duration - expected) < 0.15,
                 (std::to_string(duration) + " vs " + std::to_string(expected)).c_str());
    }
};

QTEST_GUILESS_MAIN(EngineEncoderTest)
#include "tst_engine_encoder.moc"
