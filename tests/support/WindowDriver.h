#pragma once
// Driving real windows headless: finding their controls by name, clicking them, answering the
// modal windows they raise and reading what they painted.

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace halvern::test {

template <class W = QWidget>
W* control(const QObject& parent, const QString& name) {
    W* w = parent.findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name.toStdString();
    return w;
}

inline void click(const QObject& parent, const QString& name) {
    if (auto* button = control<QAbstractButton>(parent, name)) QTest::mouseClick(button, Qt::LeftButton);
}

// While it lives, hands every modal window that is up to `handle`, every 5 ms.
class ModalWatcher {
public:
    explicit ModalWatcher(std::function<void(QWidget*)> handle) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [handle = std::move(handle)] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible()) handle(modal);
        });
        timer_.start();
    }

private:
    QTimer timer_;
};

// A message box as it stood on the screen.
struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons;
};

// While it lives, answers every modal message box by clicking `answer` (its first button when it
// has none such; QMessageBox::Escape rejects it) and keeps what each showed.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Yes)
        : watcher_([this, answer](QWidget* modal) {
              auto* box = qobject_cast<QMessageBox*>(modal);
              if (!box) return;
              seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
              if (answer == QMessageBox::Escape) return box->reject();
              QTest::mouseClick(box->button(answer) ? box->button(answer) : box->buttons().value(0), Qt::LeftButton);
          }) {}
    std::vector<SeenBox> seen;

private:
    ModalWatcher watcher_;
};

// The leftmost and rightmost dark columns of the image between rows top and bottom, from
// column `from` on; {-1, -1} when there is none.
inline std::pair<int, int> dark_span(const QImage& image, int top, int bottom, int from = 0) {
    std::pair<int, int> span{-1, -1};
    for (int x = std::max(from, 0); x < image.width(); ++x)
        for (int y = std::max(top, 0); y <= bottom && y < image.height(); ++y)
            if (qGray(image.pixel(x, y)) < 128) {
                if (span.first < 0) span.first = x;
                span.second = x;
                break;
            }
    return span;
}

}  // namespace halvern::test
