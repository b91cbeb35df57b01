// The web view module (see online/WebViewModule.h): the only code of the
// program that touches the browser engine.

#include "online/WebViewModule.h"

#include <QLoggingCategory>
#include <QWebEngineView>

#include <cstring>

namespace {

QLoggingCategory::CategoryFilter previousFilter = nullptr;

// The player does not share OpenGL contexts between its windows: asking for
// that at start costs it the OpenGL driver's tens of megabytes for its whole
// life, lyrics window or not. The browser engine then draws in software,
// which is plenty for a lyrics page, but its start-up report reads the
// shared context that is not there and crashes. That report is kept off,
// whatever the logging rules say.
void withoutStartupReport(QLoggingCategory* category) {
    if (previousFilter)
        previousFilter(category);
    if (std::strcmp(category->categoryName(), "qt.webenginecontext") == 0) {
        category->setEnabled(QtDebugMsg, false);
        category->setEnabled(QtInfoMsg, false);
    }
}

} // namespace

extern "C" {

Q_DECL_EXPORT int tolvane_webview_interface() {
    return tolvane::webview::InterfaceVersion;
}

Q_DECL_EXPORT QWidget* tolvane_webview_create(QWidget* parent) {
    static const bool prepared = [] {
        previousFilter = QLoggingCategory::installFilter(withoutStartupReport);
        // The sandbox stays on: the lyrics window makes no view for the
        // superuser unless QTWEBENGINE_DISABLE_SANDBOX=1 was set for it.
        return true;
    }();
    Q_UNUSED(prepared);
    return new QWebEngineView(parent);
}

Q_DECL_EXPORT void tolvane_webview_load(QWidget* view, const QUrl& url) {
    static_cast<QWebEngineView*>(view)->load(url);
}

} // extern "C"
