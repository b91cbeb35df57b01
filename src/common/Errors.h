#pragma once
// Errors that end a handler and reach the user as a message box, the way the
// program reports every failure: a fixed English text, no log.

#include <QString>

#include <functional>
#include <stdexcept>

namespace tolvane {

// Base of every failure that is shown to the user as its message text.
class UserError : public std::runtime_error {
public:
    explicit UserError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// A file could not be written; carries the file's path.
class IniWriteError : public UserError {
public:
    explicit IniWriteError(const QString& path)
        : UserError(QStringLiteral("Unable to write to %1").arg(path)), path_(path) {}
    const QString& path() const { return path_; }

protected:
    IniWriteError(const QString& path, const QString& message) : UserError(message), path_(path) {}

private:
    QString path_;
};

// A write refused before touching the file: a section name holding "]", or a
// key or value holding a line break, would add sections or keys of its own.
class IniEntryError : public IniWriteError {
public:
    explicit IniEntryError(const QString& path)
        : IniWriteError(path, QStringLiteral("Unable to write to %1: a name or value holds a line "
                                             "break or a bracket")
                                  .arg(path)) {}
};

// A file exists but could not be read (a folder, no permission, I/O error).
class FileReadError : public UserError {
public:
    explicit FileReadError(const QString& path)
        : UserError(QStringLiteral("Unable to read %1").arg(path)), path_(path) {}
    const QString& path() const { return path_; }

private:
    QString path_;
};

// A text that should hold a whole number does not.
class ConvertError : public UserError {
public:
    explicit ConvertError(const QString& value)
        : UserError(QStringLiteral("'%1' is not a valid integer value").arg(value)) {}
};

// Runs a handler; a UserError it throws ends it and is shown as an error
// message box. Returns false when the handler was ended that way.
bool runGuarded(const std::function<void()>& handler);

} // namespace tolvane
