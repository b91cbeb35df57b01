#include "TForm11.h"

#include "app/Accessibility.h"
#include "app/TForm1.h"
#include "app/WindowParts.h"
#include "catalog/Catalog.h"
#include "catalog/StationEdits.h"
#include "common/Errors.h"
#include "common/IniFile.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "directory/ResultsModel.h"
#include "online/Addresses.h"
#include "online/WebService.h"
#include "settings/SettingsFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace tolvane {

using namespace directory;
using namespace ui;

namespace {

const QString SearchingText = QStringLiteral("Searching...");
const QString NothingSelectedText = QStringLiteral("Choose a station in the list first");

QString countText(int count, bool more) {
    if (count == 0)
        return QStringLiteral("No station found");
    QString text = count == 1 ? QStringLiteral("1 station found")
                              : QStringLiteral("%1 stations found").arg(count);
    return more ? text + QStringLiteral(", more as you scroll") : text;
}

QComboBox* filterBox(const char* name, QWidget* parent) {
    auto* box = named(new QComboBox(parent), name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMinimumContentsLength(12);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return box;
}

// A list file's entries, or none when it is missing or unreadable.
QStringList listLines(const QString& name) {
    try {
        return ProgramFileExists(name) ? ReadTextLines(ProgramPath(name)) : QStringList();
    } catch (const UserError&) {
        return {};
    }
}

} // namespace

TForm11::TForm11(TForm1* mainWindow)
    : QDialog(nullptr), main_(mainWindow), model_(new ResultsModel(this)),
      typingPause_(new QTimer(this)) {
    // A dialog of its own (announced as one to screen readers), not modal:
    // the player stays usable while it is open. Escape closes it.
    setObjectName(QStringLiteral("Form11"));
    setWindowTitle(QStringLiteral("Find Stations"));
    setModal(false);
    setSizeGripEnabled(true);

    auto* column = new QVBoxLayout(this);
    auto* fields = new QGridLayout;
    nameEdit = named(new QLineEdit(this), "nameEdit");
    nameEdit->setPlaceholderText(QStringLiteral("Part of the station's name"));
    nameEdit->setClearButtonEnabled(true);
    tagBox = filterBox("tagBox", this);
    countryBox = filterBox("countryBox", this);
    languageBox = filterBox("languageBox", this);
    codecBox = filterBox("codecBox", this);
    codecBox->addItems({QString(), QStringLiteral("MP3"), QStringLiteral("AAC"),
                        QStringLiteral("AAC+"), QStringLiteral("OGG"), QStringLiteral("FLAC")});
    bitrateBox = named(new QComboBox(this), "bitrateBox");
    bitrateBox->addItem(QStringLiteral("Any"), 0);
    for (int kbps : {64, 96, 128, 192, 256, 320})
        bitrateBox->addItem(QStringLiteral("%1 kbit/s").arg(kbps), kbps);
    brokenBox = named(new QCheckBox(QStringLiteral("Show stations that failed the check"), this),
                      "brokenBox");
    brokenBox->setAccessibleName(brokenBox->text());
    addRow(fields, 0, caption("nameLabel", QStringLiteral("&Name:"), this), nameEdit);
    auto addPair = [&](int row, const char* labelName, const QString& text, QWidget* field) {
        QLabel* label = caption(labelName, text, this);
        nameByLabel(label, field);
        fields->addWidget(label, row, 2);
        fields->addWidget(field, row, 3);
    };
    addPair(0, "tagLabel", QStringLiteral("&Tag:"), tagBox);
    addRow(fields, 1, caption("countryLabel", QStringLiteral("C&ountry:"), this), countryBox);
    addPair(1, "languageLabel", QStringLiteral("&Language:"), languageBox);
    addRow(fields, 2, caption("codecLabel", QStringLiteral("Co&dec:"), this), codecBox);
    addPair(2, "bitrateLabel", QStringLiteral("Lowest &bitrate:"), bitrateBox);
    fields->addWidget(brokenBox, 3, 1, 1, 3);
    column->addLayout(fields);

    resultList = named(new QTreeView(this), "resultList");
    resultList->setModel(model_);
    resultList->setRootIsDecorated(false);
    resultList->setUniformRowHeights(true); // cheap layout of long lists
    resultList->setSelectionMode(QAbstractItemView::SingleSelection);
    resultList->setSelectionBehavior(QAbstractItemView::SelectRows);
    resultList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    resultList->setAllColumnsShowFocus(true);
    resultList->setAccessibleName(QStringLiteral("Stations found"));
    resultList->setMinimumSize(640, 280);
    resultList->header()->setStretchLastSection(true);
    for (auto [col, width] : {std::pair{ResultsModel::NameColumn, 220},
                              {ResultsModel::CountryColumn, 110},
                              {ResultsModel::CodecColumn, 60},
                              {ResultsModel::BitrateColumn, 60}})
        resultList->setColumnWidth(col, width);
    resultList->installEventFilter(this);
    column->addWidget(resultList, 1);

    statusLabel = caption("statusLabel", QString(), this);
    describeChangingLabel(statusLabel, QStringLiteral("Search status"));
    statusLabel->setWordWrap(true);
    statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    column->addWidget(statusLabel);

    playButton = standardButton("playButton", QStringLiteral("&Play"), QStyle::SP_MediaPlay, this);
    addButton = standardButton("addButton", QStringLiteral("&Add to my stations"),
                               QStyle::SP_FileDialogNewFolder, this);
    favoritesButton = standardButton("favoritesButton", QStringLiteral("Add to &favorites"),
                                     QStyle::SP_DialogYesButton, this);
    closeButton =
        standardButton("closeButton", QStringLiteral("Close"), QStyle::SP_DialogCloseButton, this);
    for (QPushButton* b : {playButton, addButton, favoritesButton})
        b->setAccessibleName(b->text().remove(u'&'));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(playButton);
    buttons->addWidget(addButton);
    buttons->addWidget(favoritesButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    column->addLayout(buttons);

    typingPause_->setSingleShot(true);
    connect(typingPause_, &QTimer::timeout, this, [this] { startSearch(); });
    auto later = [this] {
        if (restored_)
            typingPause_->start(typingPauseMs);
    };
    connect(nameEdit, &QLineEdit::textEdited, this, later);
    connect(nameEdit, &QLineEdit::returnPressed, this, [this] { startSearch(); });
    for (QComboBox* box : {tagBox, countryBox, languageBox, codecBox})
        connect(box, &QComboBox::editTextChanged, this, later);
    connect(bitrateBox, &QComboBox::currentIndexChanged, this, later);
    connect(brokenBox, &QCheckBox::toggled, this, later);

    connect(model_, &ResultsModel::moreWanted, this, [this] { requestMore(); });
    // The next page shows when the list is scrolled to its end, or while
    // the rows shown do not fill it.
    QScrollBar* scroll = resultList->verticalScrollBar();
    connect(scroll, &QScrollBar::valueChanged, this, [this, scroll](int value) {
        if (value == scroll->maximum() && model_->canShowMore())
            model_->showMore();
    });
    connect(scroll, &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (maximum == 0 && model_->rowCount() > 0 && model_->canShowMore())
            QTimer::singleShot(0, model_, &ResultsModel::showMore);
    });
    connect(resultList, &QTreeView::doubleClicked, this,
            [this] { runGuarded([this] { playSelected(); }); });
    connect(playButton, &QPushButton::clicked, this,
            [this] { runGuarded([this] { playSelected(); }); });
    connect(addButton, &QPushButton::clicked, this,
            [this] { runGuarded([this] { addSelected(); }); });
    connect(favoritesButton, &QPushButton::clicked, this,
            [this] { runGuarded([this] { addSelectedToFavorites(); }); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
}

TForm11::~TForm11() {
    if (isVisible())
        runGuarded([this] { rememberQuery(); });
}

void TForm11::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    useDirectoryOfServicesFile();
    if (!restored_) {
        runGuarded([this] { restoreQuery(); });
        restored_ = true;
    }
    if (!listsLoaded_)
        client_->fetchLists();
    if (model_->heldCount() == 0 || query() != shown_)
        startSearch();
    nameEdit->setFocus();
}

void TForm11::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { rememberQuery(); });
}

bool TForm11::eventFilter(QObject* watched, QEvent* event) {
    if (watched == resultList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            runGuarded([this] { playSelected(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm11::useDirectoryOfServicesFile() {
    const QString address = Services::FromProgramFolder().directory;
    if (client_ && address == clientAddress_)
        return;
    client_ = std::make_unique<DirectoryClient>(address, limits);
    clientAddress_ = address;
    listsLoaded_ = false;
    request_ = 0;
    loadingMore_ = false;
    connect(client_.get(), &DirectoryClient::stationsArrived, this, &TForm11::showStations);
    connect(client_.get(), &DirectoryClient::searchFailed, this, &TForm11::showFailure);
    connect(client_.get(), &DirectoryClient::listArrived, this, &TForm11::fillList);
}

StationQuery TForm11::query() const {
    StationQuery q;
    q.name = nameEdit->text();
    q.tag = tagBox->currentText();
    q.country = countryBox->currentText();
    // A country of the list is asked for by its code.
    const int at = countryBox->findText(q.country.trimmed(), Qt::MatchFixedString);
    if (at >= 0 && !q.country.trimmed().isEmpty())
        q.countryCode = countryBox->itemData(at).toString();
    q.language = languageBox->currentText();
    q.codec = codecBox->currentText();
    q.bitrateMin = bitrateBox->currentData().toInt();
    q.showBroken = brokenBox->isChecked();
    return q;
}

void TForm11::startSearch() {
    typingPause_->stop();
    if (!client_)
        useDirectoryOfServicesFile();
    shown_ = query();
    loadingMore_ = false;
    request_ = client_->search(shown_, 0, pageSize);
    showText(statusLabel, SearchingText);
}

void TForm11::requestMore() {
    if (loadingMore_ || !client_ || !model_->morePages())
        return;
    loadingMore_ = true;
    request_ = client_->search(shown_, nextOffset_, pageSize);
    showText(statusLabel, SearchingText);
}

void TForm11::showStations(quint64 request, int offset, const QVector<DirectoryStation>& page,
                           int asked) {
    if (request != request_)
        return;
    if (offset == 0)
        model_->clear();
    loadingMore_ = false;
    nextOffset_ = offset + static_cast<int>(page.size());
    // The directory was asked to leave out broken stations; one that slips
    // through is left out here too.
    if (shown_.showBroken ||
        std::all_of(page.begin(), page.end(), [](const auto& s) { return s.lastCheckOk; })) {
        model_->appendPage(page, asked);
    } else {
        QVector<DirectoryStation> working;
        working.reserve(page.size());
        for (const DirectoryStation& s : page) {
            if (s.lastCheckOk)
                working.append(s);
        }
        model_->appendPage(working, working.size() + (page.size() >= asked ? 0 : 1));
    }
    if (offset == 0 && model_->rowCount() > 0)
        resultList->setCurrentIndex(model_->index(0, 0));
    showCount();
}

void TForm11::showCount() {
    showText(statusLabel, countText(model_->heldCount(), model_->morePages()));
}

void TForm11::showFailure(quint64 request, const QString& message) {
    if (request != request_)
        return;
    // A page that could not be had leaves the earlier ones; a new search
    // that failed shows nothing of the old one.
    if (!loadingMore_)
        model_->clear();
    loadingMore_ = false;
    showText(statusLabel, message);
}

void TForm11::fillList(ListKind kind, const QVector<ListEntry>& entries) {
    QComboBox* box = kind == ListKind::Tags        ? tagBox
                     : kind == ListKind::Countries ? countryBox
                                                   : languageBox;
    // Filling the box is not the user's change: no search starts.
    const QSignalBlocker blocker(box);
    const QString text = box->currentText();
    box->clear();
    box->addItem(QString());
    for (const ListEntry& e : entries)
        box->addItem(e.name, e.code);
    box->setEditText(text);
    if (kind == ListKind::Languages)
        listsLoaded_ = true;
}

const DirectoryStation* TForm11::selected() {
    const QModelIndex current = resultList->currentIndex();
    const DirectoryStation* s = current.isValid() ? model_->station(current.row()) : nullptr;
    if (!s)
        showText(statusLabel, NothingSelectedText);
    return s;
}

void TForm11::playSelected() {
    const DirectoryStation* s = selected();
    if (!s || !main_)
        return;
    const QString url = s->streamUrl();
    if (!IsWebAddress(url)) {
        showText(statusLabel,
                 QStringLiteral("%1 cannot be played: its address is no web address").arg(s->name));
        return;
    }
    // Played as the Add-station window tests a URL: Run opens the test URL
    // in place of the list's station. The name and website make it the
    // current station, so it can be recorded and shared.
    main_->stopClick();
    main_->Edit3->setText(s->name);
    main_->Edit4->setText(s->homepage);
    main_->CurrentCharset.clear();
    main_->Edit8->setText(url);
    main_->invoke(QStringLiteral("Run"));
    main_->Edit8->clear();
    // The directory counts plays to rank its stations.
    client_->reportClick(s->uuid);
}

void TForm11::addSelected() {
    saveSelected(catalog::RadioUserFile, QStringLiteral("your stations"),
                 &catalog::stationAddedText);
}

void TForm11::addSelectedToFavorites() {
    saveSelected(catalog::FavoritesFile, QStringLiteral("your favorites"),
                 &catalog::addedToFavoritesText);
}

void TForm11::saveSelected(const QString& file, const QString& what,
                           QString (*added)(const QString&)) {
    const DirectoryStation* s = selected();
    if (!s)
        return;
    const catalog::NewStation record =
        stationRecord(*s, listLines(catalog::GenreListFile), listLines(catalog::LanguageListFile));
    if (const QString problem = catalog::checkNewStation(record); !problem.isEmpty()) {
        ShowMessage(problem);
        return;
    }
    if (!IsWebAddress(record.streaming)) {
        ShowMessage(
            QStringLiteral("%1 cannot be added: its address is no web address").arg(record.name));
        return;
    }
    IniFile target(ProgramPath(file));
    if (target.document().hasSection(record.name) &&
        !Confirm(QStringLiteral("%1 is already in %2. Replace it with the station found?")
                     .arg(record.name, what),
                 ConfirmButtons::YesNo))
        return;
    const QStringList keys = catalog::recordKeyOrder();
    const QStringList values{record.genre, record.language, record.website, record.streaming,
                             record.bitrate};
    QList<std::pair<QString, QString>> entries;
    for (qsizetype i = 0; i < keys.size(); ++i)
        entries.append({keys[i], values[i]});
    target.WriteStrings(record.name, entries); // a failed write ends here
    ShowMessage(added(record.name));
}

void TForm11::restoreQuery() {
    IniFile ini = settings::openSettings();
    const StationQuery q =
        rememberedQuery(ini.document().values(SettingsSection, rememberedKeys()));
    const QSignalBlocker b1(nameEdit), b2(tagBox), b3(countryBox), b4(languageBox), b5(codecBox),
        b6(bitrateBox), b7(brokenBox);
    nameEdit->setText(q.name);
    tagBox->setEditText(q.tag);
    if (!q.country.isEmpty())
        countryBox->addItem(q.country, q.countryCode);
    countryBox->setEditText(q.country);
    languageBox->setEditText(q.language);
    codecBox->setEditText(q.codec);
    const int bitrate = bitrateBox->findData(q.bitrateMin);
    bitrateBox->setCurrentIndex(bitrate >= 0 ? bitrate : 0);
    brokenBox->setChecked(q.showBroken);
}

void TForm11::rememberQuery() {
    if (!restored_ || !settings::settingsFileExists())
        return;
    IniFile ini = settings::openSettings();
    const auto entries = rememberedEntries(query());
    const QStringList now = ini.document().values(SettingsSection, rememberedKeys());
    QStringList wanted;
    for (const auto& e : entries)
        wanted << e.second;
    if (now != wanted || !ini.document().hasSection(SettingsSection))
        ini.WriteStrings(SettingsSection, entries);
}

} // namespace tolvane
