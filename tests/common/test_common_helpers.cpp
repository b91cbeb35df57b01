#include "MessageRecorder.h"
#include "TestSupport.h"
#include "common/Convert.h"
#include "common/Errors.h"
#include "common/Paths.h"
#include "common/Timer.h"

#include <QtTest>

using namespace tolvane;
using tolvane::test::TestFolder;

class CommonHelpersTest : public QObject {
    Q_OBJECT
private slots:
    void strToInt_acceptsOnlyWholeNumbers_data();
    void strToInt_acceptsOnlyWholeNumbers();
    void runGuarded_showsTheErrorAndStopsTheHandler();
    void programPath_findsNamesWithoutRegardToCaseAndSeparators();
    void readTextLines_handlesEndingsAndByteOrderMark();
    void timer_keepsWindowTimerSemantics();
};

void CommonHelpersTest::strToInt_acceptsOnlyWholeNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("digits") << "40" << true << 40;
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("negative") << "-5" << true << -5;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("overflow") << "2147483648" << false << 0;
    QTest::newRow("huge") << "99999999999999999999999" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("text") << "loud" << false << 0;
    QTest::newRow("decimal") << "4.5" << false << 0;
    QTest::newRow("trailing letter") << "40x" << false << 0;
    QTest::newRow("inner blank") << "4 0" << false << 0;
    QTest::newRow("arabic digits") << QString::fromUtf8("٤٠") << false << 0;
}

void CommonHelpersTest::strToInt_acceptsOnlyWholeNumbers() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    if (valid) {
        QCOMPARE(StrToInt(text), value);
    } else {
        try {
            StrToInt(text);
            QFAIL("conversion should fail");
        } catch (const ConvertError& e) {
            QCOMPARE(e.message(), QString("'%1' is not a valid integer value").arg(text));
        }
    }
}

void CommonHelpersTest::runGuarded_showsTheErrorAndStopsTheHandler() {
    test::MessageRecorder recorder;
    int reached = 0;
    const bool ok = runGuarded([&] {
        reached = 1;
        StrToInt("abc");
        reached = 2;
    });
    QVERIFY(!ok);
    QCOMPARE(reached, 1);
    QCOMPARE(recorder.texts(), QStringList{"'abc' is not a valid integer value"});
    QVERIFY(runGuarded([] {}));
}

void CommonHelpersTest::programPath_findsNamesWithoutRegardToCaseAndSeparators() {
    TestFolder folder;
    folder.write("Images/Loader.png", "x");
    const QString expected = folder.file("Images/Loader.png");
    QCOMPARE(ProgramPath("\\images\\loader.png"), expected);
    QCOMPARE(ProgramPath("/IMAGES/LOADER.PNG"), expected);
    QCOMPARE(ProgramPath("Images/Loader.png"), expected);
    QVERIFY(ProgramFileExists("images\\LOADER.png"));
    // A missing name keeps its spelling, so it can be created.
    QCOMPARE(ProgramPath("\\temp.dat"), folder.file("temp.dat"));
    QVERIFY(!ProgramFileExists("temp.dat"));
}

void CommonHelpersTest::readTextLines_handlesEndingsAndByteOrderMark() {
    TestFolder folder;
    folder.write("l.dat", "\xEF\xBB\xBF"
                          "English\r\nDeutsch\nFran\xC3\xA7"
                          "ais");
    QCOMPARE(ReadTextLines(folder.file("l.dat")),
             QStringList({"English", "Deutsch", QString::fromUtf8("Français")}));
    folder.write("e.dat", "a\n\nb\n");
    QCOMPARE(ReadTextLines(folder.file("e.dat")), QStringList({"a", "", "b"}));
    QCOMPARE(ReadTextLines(folder.file("missing.dat")), QStringList());
}

void CommonHelpersTest::timer_keepsWindowTimerSemantics() {
    Timer t("Timer3", 0);
    int ticks = 0;
    t.OnTimer = [&] { ++ticks; };
    t.start();
    QVERIFY(t.Enabled());
    QVERIFY(!t.isTicking()); // interval 0 never ticks
    QTest::qWait(50);
    QCOMPARE(ticks, 0);

    t.setInterval(30);
    QVERIFY(t.isTicking());
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 2, 2000);
    t.stop();
    const int after = ticks;
    QTest::qWait(80);
    QCOMPARE(ticks, after);

    // Starting a running timer or setting its own interval does not restart
    // the count: a 200 ms timer poked every 50 ms still ticks.
    ticks = 0;
    t.setInterval(200);
    t.start();
    for (int i = 0; i < 12 && ticks == 0; ++i) {
        QTest::qWait(50);
        t.start();
        t.setInterval(200);
    }
    QVERIFY(ticks >= 1);
}

QTEST_GUILESS_MAIN(CommonHelpersTest)
#include "test_common_helpers.moc"
