#pragma once
// Stands in for the desktop's "open this address" while it lives: the
// addresses the player hands over (http, https, file, ftp) are kept here
// instead of opening a browser.

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace tolvane::test {

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder();
    ~UrlRecorder() override;

    QList<QUrl> opened;
    // The addresses as they went out, percent-encoded.
    QStringList openedText() const;

public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace tolvane::test
