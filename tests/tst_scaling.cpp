// The window at the scale the test runs at (QT_SCALE_FACTOR, registered once at 1 and once at 2):
// every caption fits its place, and the check box's box grows with its caption in each style.
#include "support/testwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QStyleFactory>
#include <QTest>

class TestScaling : public QObject
{
    Q_OBJECT
private slots:
    void captionsFitTheirPlaces_data();
    void captionsFitTheirPlaces();
    void checkBoxGrowsWithItsCaption_data();
    void checkBoxGrowsWithItsCaption();
};

void TestScaling::captionsFitTheirPlaces_data()
{
    QTest::addColumn<QString>("label");
    for (const char *name : {"Label9", "Label2", "Label3", "Label4", "Label5", "Label6", "Label7", "Label8"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

namespace {

qreal scaleGiven()
{
    return qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
}

} // namespace

void TestScaling::captionsFitTheirPlaces()
{
    QFETCH(QString, label);
    TestWindow t;
    // The window takes its font as it is first shown.
    t->show();
    const auto *l = t->findChild<QLabel *>(label);
    QVERIFY(l != nullptr);
    // Scaled, a bitmap face would be stretched or swapped for one of other widths.
    const QFontInfo face(l->font());
    QVERIFY2(scaleGiven() == 1 || QFontDatabase::isSmoothlyScalable(face.family(), face.styleName()),
             qPrintable(face.family()));
    QVERIFY2(l->fontMetrics().horizontalAdvance(l->text()) <= l->width(),
             qPrintable(QStringLiteral("\"%1\" in %2 is %3 wide in %4")
                            .arg(l->text(), l->font().family())
                            .arg(l->fontMetrics().horizontalAdvance(l->text()))
                            .arg(l->width())));
}

void TestScaling::checkBoxGrowsWithItsCaption_data()
{
    QTest::addColumn<QString>("style");
    // The style the program has on each system, and Qt's plain Windows style.
    for (const char *style : {"windowsvista", "fusion", "windows"})
        QTest::newRow(style) << QString::fromLatin1(style);
}

void TestScaling::checkBoxGrowsWithItsCaption()
{
    QFETCH(QString, style);
    if (!QStyleFactory::keys().contains(style, Qt::CaseInsensitive))
        QSKIP("this system has no such style");
    QApplication::setStyle(style);
    TestWindow t;
    const qreal scale = scaleGiven();
    QCOMPARE(t->devicePixelRatio(), scale);

    // The box: what differs from the background in the check box's own picture, in device pixels.
    const QImage picture = t->chkDisableService->grab().toImage();
    const QRgb background = picture.pixel(0, 0);
    QRect box;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.pixel(x, y) != background)
                box |= QRect(x, y, 1, 1);
        }
    }
    const qreal caption = t->Label8->fontMetrics().height() * scale;
    QVERIFY2(box.height() >= 0.75 * caption && box.width() >= 0.75 * caption,
             qPrintable(QStringLiteral("the box is %1 x %2 device pixels beside a caption %3 high")
                            .arg(box.width())
                            .arg(box.height())
                            .arg(caption)));
}

QTEST_MAIN(TestScaling)
#include "tst_scaling.moc"
