#include "TSettings.h"

#include "app/WindowParts.h"
#include "common/Errors.h"
#include "settings/SettingsFile.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QShowEvent>
#include <QStandardPaths>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tolvane {

using namespace ui;

namespace {

constexpr int ClientWidth = 324;
constexpr int ClientHeight = 510;

QLabel* greyHeading(const char* name, const QString& text, QWidget* parent) {
    QLabel* l = heading(name, text, parent);
    l->setStyleSheet(QStringLiteral("color: #808080;"));
    return l;
}

QLabel* note(const char* name, const QString& text, QWidget* parent) {
    QLabel* l = caption(name, text, parent);
    l->setWordWrap(true);
    l->setStyleSheet(QStringLiteral("color: #808080;"));
    return l;
}

QCheckBox* checkBox(const char* name, const QString& text, QWidget* parent) {
    auto* box = named(new QCheckBox(text, parent), name);
    box->setAccessibleName(text.trimmed());
    return box;
}

QLineEdit* numberField(const char* name, QWidget* parent) {
    auto* field = named(new QLineEdit(QStringLiteral("0"), parent), name);
    field->setReadOnly(true);
    field->setMaximumWidth(48);
    field->setAlignment(Qt::AlignRight);
    return field;
}

QToolButton* arrow(Qt::ArrowType type, const QString& name, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setArrowType(type);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus); // the pair takes the focus as one control
    b->setAccessibleName(name);
    b->setFixedSize(18, 12);
    return b;
}

} // namespace

UpDown::UpDown(QLineEdit* buddy, QWidget* parent) : QWidget(parent), buddy_(buddy) {
    setFocusPolicy(Qt::StrongFocus);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(0);
    up = arrow(Qt::UpArrow, QStringLiteral("Up"), this);
    down = arrow(Qt::DownArrow, QStringLiteral("Down"), this);
    column->addWidget(up);
    column->addWidget(down);
    connect(up, &QToolButton::clicked, this, [this] { step(1); });
    connect(down, &QToolButton::clicked, this, [this] { step(-1); });
    buddy_->installEventFilter(this);
}

void UpDown::step(int delta) {
    bool isNumber = false;
    int value = buddy_->text().toInt(&isNumber);
    if (!isNumber)
        value = Minimum;
    value = std::clamp(std::clamp(value, Minimum, Maximum) + delta, Minimum, Maximum);
    buddy_->setText(QString::number(value));
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up)
        step(1);
    else if (event->key() == Qt::Key_Down)
        step(-1);
    else
        QWidget::keyPressEvent(event);
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

TSettings::TSettings() : QWidget(nullptr, Qt::Tool) {
    setObjectName(QStringLiteral("Settings"));
    setWindowTitle(QStringLiteral("Settings"));
    ui::closeOnEscape(this);
    setFixedSize(ClientWidth, ClientHeight);
    // The window keeps its fixed size; a slightly smaller text lets the
    // longest caption fit on desktops whose default font is large.
    QFont text = font();
    text.setPointSizeF(text.pointSizeF() * 0.9);
    setFont(text);
    auto* column = new QVBoxLayout(this);
    // Narrow margins: the longest caption needs nearly the whole width.
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(6);

    sLabelFX1 = greyHeading("sLabelFX1", QStringLiteral("General"), this);
    CheckBox1 =
        checkBox("CheckBox1", QStringLiteral("Play last radio station on program restart"), this);
    CheckBox2 = checkBox("CheckBox2", QStringLiteral("Show song image "), this);
    CheckBox4 = checkBox("CheckBox4", QStringLiteral("Show song info balloon"), this);
    CheckBox5 = checkBox("CheckBox5", QStringLiteral("Reconnect when the station drops"), this);
    CheckBox5->setAccessibleDescription(
        QStringLiteral("A recording goes on in the same file across a gap of up to 10 seconds"));
    CheckBox5->setChecked(true); // on until the settings file says otherwise
    for (QWidget* w : {static_cast<QWidget*>(sLabelFX1), static_cast<QWidget*>(CheckBox1),
                       static_cast<QWidget*>(CheckBox2), static_cast<QWidget*>(CheckBox4),
                       static_cast<QWidget*>(CheckBox5)})
        column->addWidget(w);

    sLabelFX2 = greyHeading("sLabelFX2", QStringLiteral("Recording"), this);
    sLabel1 = note("sLabel1",
                   QStringLiteral("Option is available only if  the radio station provides "
                                  "information about each song"),
                   this);
    CheckBox3 = checkBox("CheckBox3",
                         QStringLiteral("Separate songs by name during the auto-recording"), this);
    CheckBox3->setAccessibleDescription(sLabel1->text());
    CheckBox6 = checkBox("CheckBox6", QStringLiteral("Cut exactly where the song changes"), this);
    CheckBox6->setAccessibleDescription(
        QStringLiteral("Each song in a file of its own, from its first sound to its last; the "
                       "stop and start delays are not used then"));
    CheckBox7 = checkBox("CheckBox7", QStringLiteral("Record each song from its start"), this);
    CheckBox7->setAccessibleDescription(
        QStringLiteral("Pressing rec in the middle of a song records it from its beginning "
                       "(up to 30 minutes back)"));
    sLabel2 = note(
        "sLabel2",
        QStringLiteral("After how many seconds of the song changes, the recording should stop"),
        this);
    for (QWidget* w : {static_cast<QWidget*>(sLabelFX2), static_cast<QWidget*>(sLabel1),
                       static_cast<QWidget*>(CheckBox3), static_cast<QWidget*>(CheckBox6),
                       static_cast<QWidget*>(CheckBox7), static_cast<QWidget*>(sLabel2)})
        column->addWidget(w);

    // A number field with its arrows, named by its label.
    auto numberRow = [&](const char* labelName, const QString& text, const char* fieldName,
                         const QString& description, QLabel*& label, QLineEdit*& field,
                         UpDown*& arrows) {
        auto* row = new QHBoxLayout;
        label = caption(labelName, text, this);
        field = numberField(fieldName, this);
        arrows = new UpDown(field, this);
        nameByLabel(label, field);
        field->setAccessibleDescription(description);
        arrows->setAccessibleName(field->accessibleName() + QStringLiteral(" seconds"));
        arrows->setAccessibleDescription(QStringLiteral("Up and Down change the seconds"));
        row->addWidget(label);
        row->addWidget(field);
        row->addWidget(arrows);
        row->addStretch();
        column->addLayout(row);
    };
    numberRow("sLabel3", QStringLiteral("Stop recording:"), "edit1", sLabel2->text(), sLabel3,
              edit1, UpDown1);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    sLabel5 = note("sLabel5",
                   QStringLiteral("How many seconds after stop the recording, It should start "
                                  "again."),
                   this);
    column->addWidget(sLabel5);
    numberRow("sLabel4", QStringLiteral("Start recording"), "Edit2", sLabel5->text(), sLabel4,
              Edit2, UpDown2);
    UpDown2->setObjectName(QStringLiteral("UpDown2"));

    FormatLabel = caption("FormatLabel", QStringLiteral("Save recordings as:"), this);
    RadioButton1 =
        named(new QRadioButton(QStringLiteral("MP3, encoded by lame"), this), "RadioButton1");
    RadioButton2 =
        named(new QRadioButton(QStringLiteral("The station's own format"), this), "RadioButton2");
    RadioButton1->setChecked(true);
    for (QRadioButton* b : {RadioButton1, RadioButton2})
        b->setAccessibleName(FormatLabel->text() + u' ' + b->text());
    RadioButton2->setAccessibleDescription(
        QStringLiteral("A station's own audio, kept as it is: MP3 in .mp3 files, AAC in .m4a "
                       "files, Ogg Vorbis, Opus and FLAC in .ogg, .opus and .oga files; "
                       "stations in other formats (WMA and others) are encoded by lame"));
    RadioButton2->setToolTip(RadioButton2->accessibleDescription());
    column->addWidget(FormatLabel);
    auto* formatRow = new QHBoxLayout;
    formatRow->addWidget(RadioButton1);
    formatRow->addWidget(RadioButton2);
    formatRow->addStretch();
    column->addLayout(formatRow);

    RecordFolderLabel = caption("RecordFolderLabel", QStringLiteral("Recording folder:"), this);
    edit3 = named(new QLineEdit(this), "edit3");
    edit3->setStyleSheet(QStringLiteral("color: #b8b8b8; background-color: #2b2b2b;"));
    nameByLabel(RecordFolderLabel, edit3);
    edit3->setAccessibleDescription(
        QStringLiteral("Recordings are filed here; empty for the Recorded folder"));
    column->addWidget(RecordFolderLabel);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(edit3, 1);
    sButton1 = named(new QPushButton(QStringLiteral("... Browse"), this), "sButton1");
    sButton1->setAccessibleName(QStringLiteral("Browse"));
    sButton1->setAutoDefault(false);
    folderRow->addWidget(sButton1);
    column->addLayout(folderRow);
    column->addStretch();
    sButton2 = named(new QPushButton(QStringLiteral("Save"), this), "sButton2");
    sButton2->setAccessibleName(sButton2->text());
    sButton2->setAutoDefault(false);
    column->addWidget(sButton2, 0, Qt::AlignRight);

    const QList<QWidget*> order{CheckBox1,    CheckBox2, CheckBox4, CheckBox5,
                                CheckBox3,    CheckBox6, CheckBox7, edit1,
                                UpDown1,      Edit2,     UpDown2,   RadioButton1,
                                RadioButton2, edit3,     sButton1,  sButton2};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    PickFolder = [this] {
        return QFileDialog::getExistingDirectory(
            nullptr, QStringLiteral("Select a directory"),
            QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
            QFileDialog::ShowDirsOnly);
    };
    connect(sButton1, &QPushButton::clicked, this,
            [this] { runGuarded([this] { sButton1Click(); }); });
    connect(sButton2, &QPushButton::clicked, this,
            [this] { runGuarded([this] { sButton2Click(); }); });
}

void TSettings::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TSettings::FormShow() {
    const std::optional<settings::DialogOptions> o = settings::readDialogOptions();
    if (!o)
        return; // no settings file: the controls keep what they show
    edit3->setText(o->recdir);
    CheckBox1->setChecked(o->autostart);
    CheckBox2->setChecked(o->songimage);
    CheckBox3->setChecked(o->separate);
    CheckBox6->setChecked(o->exact);
    CheckBox7->setChecked(o->fromstart);
    (o->original ? RadioButton2 : RadioButton1)->setChecked(true);
    CheckBox4->setChecked(o->balloon);
    CheckBox5->setChecked(o->reconnect);
    edit1->setText(o->interval);
    Edit2->setText(o->interval2);
}

void TSettings::sButton1Click() {
    // Cancelling the picker keeps the folder the field holds.
    const QString folder = PickFolder ? PickFolder() : QString();
    if (!folder.isEmpty())
        edit3->setText(folder);
}

void TSettings::sButton2Click() {
    settings::DialogOptions o;
    o.autostart = CheckBox1->isChecked();
    o.songimage = CheckBox2->isChecked();
    o.separate = CheckBox3->isChecked();
    o.exact = CheckBox6->isChecked();
    o.fromstart = CheckBox7->isChecked();
    o.original = RadioButton2->isChecked();
    o.balloon = CheckBox4->isChecked();
    o.reconnect = CheckBox5->isChecked();
    o.interval = edit1->text();
    o.interval2 = Edit2->text();
    o.recdir = edit3->text();
    settings::writeDialogOptions(o); // a refused write ends here; the window stays
    hide();
}

} // namespace tolvane
