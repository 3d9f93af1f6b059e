#include "orvixtool/shell/skin_resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitDevodToolResources() { Q_INIT_RESOURCE(devodtool); }

namespace devod {

void InitSkinResources() {
    static const bool registered = (InitDevodToolResources(), true);
    (void)registered;
}

QIcon ApplicationIcon() {
    InitSkinResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/icon32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/images/icon.png"), QSize(48, 48));
    return icon;
}

}  // namespace devod
