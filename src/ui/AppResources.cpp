#include "ui/AppResources.h"

#include <QDir>

void InitAppResources() {
    // The resources live in a static library; nothing else would pull them in.
    static const bool registered = [] {
        Q_INIT_RESOURCE(app_resources);
        return true;
    }();
    (void)registered;
}

QIcon ResourceIcon(const QString& name) {
    InitAppResources();
    QIcon icon;
    const QDir dir(":/icons");
    for (const QString& file : dir.entryList({name + "-*.png"}, QDir::Files))
        icon.addFile(dir.filePath(file));
    return icon;
}
