// Controls of a window found as a user's tools find them, by their ids (the
// object names), and clicks on them.
#pragma once

#include <QPushButton>
#include <QString>
#include <QTest>

namespace app_test {

template <class T = QWidget>
T* ctl(const QObject& in, int id) {
    T* c = in.findChild<T*>(QString::number(id));
    if (!c) qFatal("no control %d", id);
    return c;
}

// A mouse click on a button, which must be enabled.
inline void click(const QObject& in, int id) {
    auto* b = ctl<QPushButton>(in, id);
    QVERIFY2(b->isEnabled(), qPrintable(QStringLiteral("control %1 is disabled").arg(id)));
    QTest::mouseClick(b, Qt::LeftButton);
}

}  // namespace app_test
