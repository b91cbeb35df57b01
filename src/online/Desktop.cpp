#include "Desktop.h"

#include "Addresses.h"

#include <QDesktopServices>
#include <QUrl>

namespace tolvane {

bool OpenWebAddress(const QString& address) {
    // Addresses come from downloaded files and station records: only web
    // pages are opened, never a local program or file.
    if (!IsWebAddress(address))
        return false;
    return QDesktopServices::openUrl(QUrl::fromUserInput(address.trimmed()));
}

} // namespace tolvane
