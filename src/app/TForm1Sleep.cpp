// The sleep timer under "&Option": stop playback after 15, 30, 60 or 90
// minutes, filing a running recording first.

#include "TForm1.h"

#include "common/Errors.h"
#include "playback/SleepTimer.h"

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

namespace tolvane {

namespace {
// What the status label is, for a screen reader (as describeChangingLabel
// sets it); the remaining sleep time follows it.
const QString StatusDescription = QStringLiteral("Status");
} // namespace

playback::SleepTimer& TForm1::sleepTimer() {
    if (!sleepTimer_) {
        sleepTimer_ = std::make_unique<playback::SleepTimer>(this);
        sleepTimer_->OnChange = [this] { showSleepTime(); };
        sleepTimer_->OnExpire = [this] { runGuarded([this] { SleepTimerEnd(); }); };
    }
    return *sleepTimer_;
}

void TForm1::buildSleepMenu(QMenu* option) {
    QMenu* sleep = option->addMenu(QStringLiteral("Sleep &timer"));
    sleep->setObjectName(QStringLiteral("SleepTimer1"));
    for (int minutes : {15, 30, 60, 90}) {
        auto* a = new QAction(QStringLiteral("Stop after &%1 minutes").arg(minutes), this);
        a->setObjectName(QStringLiteral("Sleep%1").arg(minutes));
        connect(a, &QAction::triggered, this,
                [this, minutes] { runGuarded([&] { startSleepTimer(minutes); }); });
        sleep->addAction(a);
    }
    sleep->addSeparator();
    auto* cancel = new QAction(QStringLiteral("&Cancel sleep timer"), this);
    cancel->setObjectName(QStringLiteral("SleepCancel"));
    cancel->setEnabled(false);
    connect(cancel, &QAction::triggered, this, [this] { runGuarded([&] { cancelSleepTimer(); }); });
    sleep->addAction(cancel);
}

void TForm1::startSleepTimer(int minutes) {
    sleepTimer().start(minutes);
}

void TForm1::cancelSleepTimer() {
    sleepTimer().cancel();
}

void TForm1::showSleepTime() {
    const QString text = sleepTimer().remainingText();
    Label4->setToolTip(text);
    const QString description =
        text.isEmpty() ? StatusDescription : StatusDescription + QStringLiteral(". ") + text;
    if (Label4->accessibleDescription() != description) {
        Label4->setAccessibleDescription(description);
        QAccessibleEvent changed(Label4, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
    if (auto* cancel = findChild<QAction*>(QStringLiteral("SleepCancel")))
        cancel->setEnabled(!text.isEmpty());
}

void TForm1::SleepTimerEnd() {
    if (closing())
        return;
    // The record command's own stop files what was recorded, before the
    // stream it records stops.
    if (IsRecording)
        SpeedButton2->click();
    stop->click();
}

} // namespace tolvane
