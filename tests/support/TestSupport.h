#pragma once
// Helpers shared by the test executables.

#include <QByteArray>
#include <QColor>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

#include <functional>

namespace tolvane::test {

// A fresh temporary folder made the current directory for the lifetime of
// the object; the previous current directory is restored afterwards.
class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    QString path() const { return dir_.path(); }
    // Absolute path of a name inside the folder.
    QString file(const QString& relative) const;
    // Writes bytes to a file inside the folder, creating sub-folders.
    void write(const QString& relative, const QByteArray& bytes) const;
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const;

private:
    QTemporaryDir dir_;
    QString previous_;
};

// Runs the event loop until pred() is true or timeoutMs has passed; returns pred().
bool waitFor(const std::function<bool()>& pred, int timeoutMs = 5000);

// A JPEG of one colour, as the song-picture service sends it.
QByteArray solidJpeg(QColor colour, QSize size = QSize(40, 40));

// The source tree's root (for shipped data) as given by CTest, or the
// compile-time fallback.
QString sourceDir();

} // namespace tolvane::test
