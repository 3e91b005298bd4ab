// The result viewer: the wheel zooms around the pointer, fit and 1:1, the split line between
// the compare picture and the result drawn where it is, the held compare key, saving in each
// type and a failed save naming its path, copying, and a file it cannot read.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <cmath>
#include <cstdlib>
#include <random>

#include "app/widgets/image_canvas.h"
#include "app/widgets/image_viewer.h"
#include "gui_common/qt_test_app.h"

namespace {

QImage Solid(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A canvas of width x height showing `image`, shown so that its size holds.
void ShowCanvas(CImageCanvas& canvas, const QImage& image, int width, int height) {
    canvas.resize(width, height);
    canvas.SetImage(image);
    canvas.show();
    QCoreApplication::processEvents();
}

void Wheel(CImageCanvas& canvas, QPointF at, int notches) {
    QWheelEvent event(at, canvas.mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&canvas, &event);
}

void Key(CImageCanvas& canvas, QEvent::Type type, int key) {
    QKeyEvent event(type, key, Qt::NoModifier);
    QApplication::sendEvent(&canvas, &event);
}

QColor ColourAt(QWidget& widget, int x, int y) {
    return widget.grab().toImage().pixelColor(x, y);
}

// A picture of random pixels from `seed`.
QImage Noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width * 3; ++x) {
            row[x] = uchar(random());
        }
    }
    return image;
}

TEST(ImageCanvas, WheelZoomKeepsThePointUnderThePointer) {
    TestApp();
    CImageCanvas canvas;
    // 200 x 100 in 400 x 300 fits at 2.
    ShowCanvas(canvas, Solid(200, 100, Qt::gray), 400, 300);
    ASSERT_EQ(canvas.Scale(), 2);
    // Notches one after another, each at its own pointer; a notch is x1.25, and the scale stops
    // at 1/64.
    const struct {
        int notches;
        QPointF at;
        double scale;
    } kSteps[] = {
        {1, {10, 60}, 2.5},
        {-2, {390, 290}, 1.6},
        {4, {200, 150}, 3.90625},
        {-1, {0, 0}, 3.125},
        {3, {123.5, 77.25}, 6.103515625},
        {-60, {300, 20}, 1.0 / 64},
    };
    for (std::size_t i = 0; i < std::size(kSteps); ++i) {
        SCOPED_TRACE(i);
        const QPointF point = canvas.WidgetToImage(kSteps[i].at);
        Wheel(canvas, kSteps[i].at, kSteps[i].notches);
        EXPECT_NEAR(canvas.Scale(), kSteps[i].scale, 1e-9);
        const QPointF back = canvas.ImageToWidget(point);
        EXPECT_NEAR(back.x(), kSteps[i].at.x(), 1e-6);
        EXPECT_NEAR(back.y(), kSteps[i].at.y(), 1e-6);
        EXPECT_FALSE(canvas.IsFitted());
    }
}

TEST(ImageCanvas, FitAndActualSize) {
    TestApp();
    const struct {
        int width, height;  // the picture's
        double fit;
        QPointF fitCorner;     // the picture's top-left in the area when fitted
        QPointF actualCorner;  // ... at 1:1
    } kCases[] = {
        {200, 100, 2, {0, 50}, {100, 100}},      // smaller: enlarged to the width
        {800, 300, 0.5, {0, 75}, {-200, 0}},     // wider: shrunk to the width
        {100, 600, 0.5, {175, 0}, {150, -150}},  // taller: shrunk to the height
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        CImageCanvas canvas;
        ShowCanvas(canvas, Solid(c.width, c.height, Qt::gray), 400, 300);
        EXPECT_TRUE(canvas.IsFitted());
        EXPECT_DOUBLE_EQ(canvas.Scale(), c.fit);
        EXPECT_EQ(canvas.ImageToWidget({0, 0}), c.fitCorner);
        canvas.ShowActualSize();
        EXPECT_DOUBLE_EQ(canvas.Scale(), 1);
        EXPECT_EQ(canvas.ImageToWidget({0, 0}), c.actualCorner);
        // A fitted area follows the window; a zoomed one stays.
        canvas.FitToWindow();
        canvas.resize(800, 600);
        QCoreApplication::processEvents();
        EXPECT_DOUBLE_EQ(canvas.Scale(), 2 * c.fit);
    }
}

// The compare picture left of the line, the result right of it, both filling the same place;
// the held key shows the compare picture whole, and compare off shows only the result.
TEST(ImageCanvas, SplitLineShowsCompareLeftAndResultRight) {
    TestApp();
    CImageCanvas canvas;
    ShowCanvas(canvas, Solid(200, 100, Qt::red), 400, 200);
    // Another size than the result's: brought to it.
    canvas.SetCompare(Solid(50, 40, Qt::blue));
    EXPECT_EQ(canvas.Compare().size(), QSize(200, 100));
    const struct {
        double split;
        int x;
        QColor colour;
    } kPixels[] = {
        {0.5, 100, Qt::blue}, {0.5, 300, Qt::red},  {0.25, 60, Qt::blue},
        {0.25, 150, Qt::red}, {0.9, 340, Qt::blue}, {0.9, 380, Qt::red},
    };
    for (const auto& p : kPixels) {
        SCOPED_TRACE(std::to_string(p.split) + " at " + std::to_string(p.x));
        canvas.SetSplit(p.split);
        EXPECT_EQ(ColourAt(canvas, p.x, 100), p.colour);
    }
    canvas.SetSplit(0.5);
    Key(canvas, QEvent::KeyPress, Qt::Key_B);
    EXPECT_EQ(ColourAt(canvas, 300, 100), QColor(Qt::blue));
    Key(canvas, QEvent::KeyRelease, Qt::Key_B);
    EXPECT_EQ(ColourAt(canvas, 300, 100), QColor(Qt::red));
    canvas.SetCompareShown(false);
    EXPECT_EQ(ColourAt(canvas, 100, 100), QColor(Qt::red));
}

void Mouse(CImageCanvas& canvas, QEvent::Type type, QPointF at) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, canvas.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(&canvas, &event);
}

// A drag that starts on the split line moves the line; one that starts elsewhere moves the
// picture by as much as the pointer moved.
TEST(ImageCanvas, DraggingMovesTheLineOrThePicture) {
    TestApp();
    CImageCanvas canvas;
    ShowCanvas(canvas, Solid(200, 100, Qt::red), 400, 200);
    canvas.SetCompare(Solid(200, 100, Qt::blue));
    Mouse(canvas, QEvent::MouseButtonPress, {202, 50});
    Mouse(canvas, QEvent::MouseMove, {150, 60});
    Mouse(canvas, QEvent::MouseMove, {100, 70});
    Mouse(canvas, QEvent::MouseButtonRelease, {100, 70});
    EXPECT_DOUBLE_EQ(canvas.Split(), 0.25);
    const QPointF corner = canvas.ImageToWidget({0, 0});
    Mouse(canvas, QEvent::MouseButtonPress, {300, 100});
    Mouse(canvas, QEvent::MouseMove, {320, 90});
    Mouse(canvas, QEvent::MouseMove, {330, 120});
    Mouse(canvas, QEvent::MouseButtonRelease, {330, 120});
    EXPECT_EQ(canvas.ImageToWidget({0, 0}), corner + QPointF(30, 20));
    EXPECT_DOUBLE_EQ(canvas.Split(), 0.25);
    EXPECT_FALSE(canvas.IsFitted());
}

// Each type is written by its extension and read back: BMP and PNG to the byte, JPEG close; an
// existing file is replaced; a folder that cannot be made and an unknown extension are told with
// the path.
TEST(ImageViewer, SaveAsEachTypeAndReportsAFailedSave) {
    TestApp();
    CTestDesktop desktop;
    QTemporaryDir dir;
    const QImage noise = Noise(37, 23, 7);
    CImageViewer viewer(desktop, dir.filePath(QStringLiteral("shown.png")), noise);
    const struct {
        const char* name;
        const char* format;
    } kTypes[] = {{"a.bmp", "BMP"}, {"b.PNG", "PNG"}, {"c.dib", "BMP"}};
    for (const auto& t : kTypes) {
        SCOPED_TRACE(t.name);
        const QString path = dir.filePath(QString::fromLatin1(t.name));
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an older file");
        old.close();
        ASSERT_TRUE(viewer.SaveAs(path));
        // Qt takes ".dib" for BMP only when told.
        const QImage back = QImage(path, t.format).convertToFormat(QImage::Format_RGB888);
        ASSERT_EQ(back.size(), noise.size());
        EXPECT_EQ(back, noise);
    }
    // JPEG: a smooth picture comes back close.
    QImage smooth(64, 48, QImage::Format_RGB888);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            smooth.setPixelColor(x, y, QColor(40 + x, 60 + y, 200 - x));
        }
    }
    CImageViewer jpegViewer(desktop, dir.filePath(QStringLiteral("smooth.png")), smooth);
    for (const char* name : {"d.jpg", "e.jpeg"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(jpegViewer.SaveAs(path));
        const QImage back = QImage(path).convertToFormat(QImage::Format_RGB888);
        ASSERT_EQ(back.size(), smooth.size());
        int worst = 0;
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x) {
                const QColor a = back.pixelColor(x, y);
                const QColor b = smooth.pixelColor(x, y);
                worst = std::max({worst, std::abs(a.red() - b.red()),
                                  std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
            }
        }
        EXPECT_LE(worst, 6);
    }
    EXPECT_TRUE(desktop.m_texts.empty());

    // A folder below a file cannot be made, whoever runs the test.
    QFile file(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    for (const QString& path : {dir.filePath(QStringLiteral("file/sub/out.png")),
                                dir.filePath(QStringLiteral("out.gif"))}) {
        SCOPED_TRACE(path.toStdString());
        desktop.StartRecording();
        EXPECT_FALSE(viewer.SaveAs(path));
        ASSERT_EQ(desktop.m_texts.size(), 1u);
        EXPECT_NE(desktop.m_texts[0].find(path.toStdString()), std::string::npos)
            << desktop.m_texts[0];
        EXPECT_EQ(desktop.m_icons[0], QMessageBox::Warning);
        EXPECT_FALSE(QFile::exists(path));
    }
}

// OpenImageViewer reads the file, opens a window with the compare picture on, says the size in
// its status line, copies the picture and hands the file to the desktop's viewer; a file it
// cannot read is told with its path and gives no window.
TEST(ImageViewer, OpensReadsCopiesAndRefusesWhatItCannotRead) {
    TestApp();
    CTestDesktop desktop;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("result.dib"));
    const QImage noise = Noise(30, 20, 3);
    ASSERT_TRUE(SaveViewerImage(noise, path.toStdString()));
    CImageViewer* viewer = OpenImageViewer(
        desktop, path, CViewerCompare{Solid(15, 10, Qt::blue), QStringLiteral("before")}, nullptr);
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_TRUE(viewer->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(viewer->Canvas()->Image().convertToFormat(QImage::Format_RGB888), noise);
    EXPECT_TRUE(viewer->CompareAction()->isChecked());
    EXPECT_TRUE(viewer->Canvas()->CompareShown());
    EXPECT_TRUE(viewer->StatusLine()->text().startsWith(QStringLiteral("30 x 20")))
        << viewer->StatusLine()->text().toStdString();
    EXPECT_TRUE(viewer->StatusLine()->text().contains(QStringLiteral("before")));
    viewer->CompareAction()->trigger();
    EXPECT_FALSE(viewer->Canvas()->CompareShown());
    // Every tool names its key.
    for (QAction* action :
         {viewer->FitAction(), viewer->ActualSizeAction(), viewer->CompareAction(),
          viewer->SaveAction(), viewer->CopyAction(), viewer->OpenExternalAction()}) {
        SCOPED_TRACE(action->text().toStdString());
        ASSERT_FALSE(action->shortcut().isEmpty());
        EXPECT_TRUE(
            action->toolTip().contains(action->shortcut().toString(QKeySequence::NativeText)));
    }

    viewer->CopyAction()->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888), noise);
    desktop.StartRecording();
    viewer->OpenExternalAction()->trigger();
    ASSERT_EQ(desktop.m_urls.size(), 1);
    EXPECT_EQ(desktop.m_urls[0].toLocalFile(), path);
    viewer->close();

    QFile broken(dir.filePath(QStringLiteral("broken.bmp")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("BM not really");
    broken.close();
    desktop.StartRecording();
    EXPECT_EQ(OpenImageViewer(desktop, broken.fileName(), {}, nullptr), nullptr);
    ASSERT_EQ(desktop.m_texts.size(), 1u);
    EXPECT_NE(desktop.m_texts[0].find(broken.fileName().toStdString()), std::string::npos);
}

}  // namespace
