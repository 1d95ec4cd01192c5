#include "app/PaintFirstLibrary.h"

#include <QCoreApplication>
#include <QWidget>

namespace halvern {

void paint_now(QWidget& window) {
    window.repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace halvern
