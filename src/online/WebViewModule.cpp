#include "WebViewModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

namespace tolvane::webview {

namespace {

QString& folderOverride() {
    static QString folder;
    return folder;
}

} // namespace

QString moduleFileName() {
    return QStringLiteral(TOLVANE_WEBVIEW_MODULE_FILE);
}

QString moduleFolder() {
    const QString& folder = folderOverride();
    return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}

void setModuleFolder(const QString& folder) {
    folderOverride() = folder;
}

Module loadModule() {
    Module module;
    const QString path = QDir(moduleFolder()).filePath(moduleFileName());
    QLibrary library(path);
    if (!library.load()) {
        module.error = library.errorString();
        return module;
    }
    const auto version =
        reinterpret_cast<InterfaceFn>(library.resolve("tolvane_webview_interface"));
    if (!version || version() != InterfaceVersion) {
        module.error = QStringLiteral("%1 belongs to another version of Tolvane.").arg(path);
        library.unload();
        return module;
    }
    module.create = reinterpret_cast<CreateFn>(library.resolve("tolvane_webview_create"));
    module.load = reinterpret_cast<LoadFn>(library.resolve("tolvane_webview_load"));
    if (!module.usable()) {
        module.error = QStringLiteral("%1 lacks its entry points.").arg(path);
        module.create = nullptr;
        module.load = nullptr;
        library.unload();
    }
    // A usable module stays loaded: QLibrary never unloads on its own.
    return module;
}

} // namespace tolvane::webview
