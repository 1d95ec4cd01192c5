#pragma once
// The pictures of the main window, drawn by the program itself: the three status lights of
// imgIcons and the maker's logo.

#include <QPixmap>
#include <QString>
#include <QStringList>

namespace halvern {

// The keys of imgIcons in the order of the status icon numbers 1, 2, 3.
inline const QStringList kStatusIconKeys{QStringLiteral("GREEN_LIGHT"), QStringLiteral("YELLOW_LIGHT"),
                                         QStringLiteral("RED_LIGHT")};

// The light of the given key ("GREEN_LIGHT", "YELLOW_LIGHT", "RED_LIGHT"), side pixels square.
QPixmap status_light(const QString& key, int side = 16);

// The maker's logo: a projector casting its beam, without lettering.
QPixmap maker_logo(int width, int height);

}  // namespace halvern
