#pragma once
// The web view module: the browser engine behind the lyrics window lives in
// a shared library of its own, put beside the player. A player that never
// shows the lyrics window never loads it, nor the browser engine with its
// hundred-odd megabytes; the lyrics window loads it at its first showing.
//
// The module has three entry points with C linkage, found by name:
//   int      tolvane_webview_interface()                the InterfaceVersion it was built with
//   QWidget* tolvane_webview_create(QWidget* parent)    a new web view
//   void     tolvane_webview_load(QWidget* view, const QUrl& url)   loads a page into it
//
// Loading is QtCore only: no widget is made here.

#include <QString>

class QUrl;
class QWidget;

namespace tolvane::webview {

// Raised whenever an entry point changes, so that a module left over from
// another build is refused rather than called wrongly.
inline constexpr int InterfaceVersion = 1;

// The module's file name (set by the build, where the library is named).
QString moduleFileName();

using InterfaceFn = int (*)();
using CreateFn = QWidget* (*)(QWidget* parent);
using LoadFn = void (*)(QWidget* view, const QUrl& url);

struct Module {
    CreateFn create = nullptr;
    LoadFn load = nullptr;
    // Why the module could not be used; empty when it can.
    QString error;
    bool usable() const { return create && load; }
};

// The folder the module is loaded from: the running program's own folder
// (where the player is installed, not the program folder it runs in, which
// downloads may write to).
QString moduleFolder();
// Loads from another folder from now on (a test or tool that runs the
// windows from elsewhere); an empty folder restores the program's own.
void setModuleFolder(const QString& folder);

// Loads the module (a loaded module stays loaded; a later call reuses it)
// and resolves its entry points.
Module loadModule();

} // namespace tolvane::webview
