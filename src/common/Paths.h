#pragma once
// Every file is named at its moment of use from the current directory, which
// is the program folder. Names may be written with backslashes or slashes and
// with a leading separator ("\radiolist.dat", "settings\language.dat",
// "/settings/settings.dat"); all name the same file. Lookup ignores letter
// case when the exact name does not exist, so "\Images\loader.png" finds
// "images/loader.png".

#include <QString>

namespace tolvane {

// The absolute path of a name under the current directory. When the exact
// path does not exist but a path differing only in letter case does, that
// one is returned; otherwise the exact path (for creating the file).
QString ProgramPath(const QString& name);

// True when the named file or folder exists (letter case ignored as above).
bool ProgramFileExists(const QString& name);

// Lines of a plain text file: CR LF or LF endings, a UTF-8 byte-order mark
// dropped, text read as UTF-8 (Latin-1 when it is not valid UTF-8). Throws
// FileReadError when the file exists but cannot be read.
QStringList ReadTextLines(const QString& absolutePath);

// The lines of a text file's bytes, read as ReadTextLines reads a file.
QStringList TextLines(const QByteArray& bytes);

// Text from bytes of an unknown character set: UTF-8 when they are valid
// UTF-8, otherwise Latin-1 (what older files and most stations send).
QString decodeUtf8OrLatin1(QByteArrayView bytes);

// Decodes file bytes: UTF-8 without its byte-order mark, or Latin-1 when the
// bytes are not valid UTF-8.
QString DecodeText(const QByteArray& bytes);

// Reads a whole file; throws FileReadError when it exists but cannot be read.
// Returns an empty array for a missing file.
QByteArray ReadFileBytes(const QString& absolutePath);

// Replaces a file atomically with bytes (temporary file in the same folder,
// then rename), so a reader sees the old or the new file whole; throws
// IniWriteError with the path on failure, leaving the old file untouched.
// With SyncToDisk::Yes the new file and then its folder are synced, so the
// replacement outlives a power cut; scratch files that are rebuilt anyway
// may skip that. Every byte passes a WriteGate.
enum class SyncToDisk { Yes, No };
void WriteFileAtomically(const QString& absolutePath, const QByteArray& bytes,
                         SyncToDisk sync = SyncToDisk::Yes);

} // namespace tolvane
