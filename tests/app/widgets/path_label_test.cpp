// The path field: middle ellipsis that keeps the file name, full text kept, ampersands, repaints.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "app/widgets/path_label.h"
#include "gui_common/qt_test_app.h"

namespace {

const QString kEllipsis = QStringLiteral("\u2026");

// Checks what the middle ellipsis promises for `text` at `width`.
void ExpectPathElided(const QString& text, const QFontMetrics& fm, int width) {
    SCOPED_TRACE(text.toStdString() + " @ " + std::to_string(width));
    const QString shown = ElidePath(text, fm, width);
    if (fm.horizontalAdvance(text) <= width) {
        EXPECT_EQ(shown, text);
        return;
    }
    EXPECT_LE(fm.horizontalAdvance(shown), width);
    const qsizetype slash = text.lastIndexOf(u'/');
    const QString tail = text.mid(slash);
    const QString head = text.left(slash);
    if (fm.horizontalAdvance(kEllipsis + tail) > width) {
        // Not even the name fits: the ellipsis, then as much of the name as fits.
        ASSERT_TRUE(shown.startsWith(kEllipsis + u'/'));
        return;
    }
    // The file name survives whole behind the ellipsis...
    ASSERT_TRUE(shown.endsWith(kEllipsis + tail));
    const QString kept = shown.left(shown.size() - kEllipsis.size() - tail.size());
    // ...after the longest beginning of the folder that fits.
    EXPECT_TRUE(head.startsWith(kept));
    EXPECT_GT(fm.horizontalAdvance(head.left(kept.size() + 1) + kEllipsis + tail), width);
}

TEST(ElidePath, KeepsTheFileNameAndAsMuchOfTheFolderAsFits) {
    TestApp();
    const QFontMetrics fm(QApplication::font());
    const char* kPaths[] = {
        "/home/someone/grabs/2026/december/evening/00012340.bmp",
        "/a/very/deep/folder/structure/that/goes/on/and/on/short.jpg",
        "/media/disk/视频截图/第一集/图像平均结果_000001.jpg",
        "/x/a_file_name_that_is_itself_very_long_indeed_and_longer_still.bmp",
        "/only_one_level.bmp",
    };
    for (const char* path : kPaths) {
        for (const int width : {40, 90, 150, 220, 300, 2000}) {
            ExpectPathElided(QString::fromUtf8(path), fm, width);
        }
    }
}

TEST(ElidePath, TextWithoutSeparatorLosesItsMiddle) {
    TestApp();
    const QFontMetrics fm(QApplication::font());
    const QString text = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789");
    const QString shown = ElidePath(text, fm, fm.horizontalAdvance(text) / 2);
    EXPECT_TRUE(shown.contains(kEllipsis));
    EXPECT_TRUE(shown.startsWith(u'a'));
    EXPECT_TRUE(shown.endsWith(u'9'));
}

TEST(PathLabel, KeepsTheWholeTextAndShortensOnlyTheDrawing) {
    TestApp();
    const QString path =
        QStringLiteral("/home/someone/grabs/2026/december/evening/averaged/00012340.bmp");
    for (const bool bPath : {true, false}) {
        SCOPED_TRACE(bPath);
        CPathLabel label;
        label.m_bPathEllipsis = bPath;
        label.resize(160, 24);
        label.setText(path);
        EXPECT_EQ(label.text(), path);
        const QString shown = label.DisplayText();
        EXPECT_LE(QFontMetrics(label.font()).horizontalAdvance(shown),
                  label.contentsRect().width());
        EXPECT_TRUE(shown.contains(kEllipsis));
        if (bPath) {
            EXPECT_TRUE(shown.endsWith(QStringLiteral("/00012340.bmp")));
        } else {
            EXPECT_TRUE(shown.endsWith(kEllipsis));
            EXPECT_TRUE(path.startsWith(shown.left(shown.size() - 1)));
        }
        EXPECT_EQ(label.text(), path);
    }
}

// Width of everything drawn that differs from the background.
int InkWidth(QWidget& widget) {
    const QImage image = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb background = image.pixel(image.width() - 1, image.height() / 2);
    int left = image.width();
    int right = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != background) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return right < left ? 0 : right - left + 1;
}

TEST(PathLabel, AmpersandsAreDrawnAsTheyAre) {
    TestApp();
    CPathLabel label;
    label.m_bPathEllipsis = true;
    label.resize(400, 24);
    // Taken as mnemonics, "&a&a" would draw as "aa" with underlines.
    label.setText(QStringLiteral("&a&a"));
    EXPECT_EQ(label.DisplayText(), QStringLiteral("&a&a"));
    const int withAmpersands = InkWidth(label);
    label.setText(QStringLiteral("aa"));
    const int plain = InkWidth(label);
    EXPECT_GT(withAmpersands, plain + QFontMetrics(label.font()).horizontalAdvance(u'&'));
}

class CCountingPathLabel : public CPathLabel {
public:
    int m_nPaints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++m_nPaints;
        CPathLabel::paintEvent(event);
    }
};

TEST(PathLabel, SettingTheSameTextRepaints) {
    TestApp();
    CCountingPathLabel label;
    label.resize(200, 24);
    label.show();
    label.setText(QStringLiteral("/grabs/a.bmp"));
    QCoreApplication::processEvents();
    const int before = label.m_nPaints;
    EXPECT_GT(before, 0);
    label.setText(QStringLiteral("/grabs/a.bmp"));
    QCoreApplication::processEvents();
    EXPECT_GT(label.m_nPaints, before);
}

}  // namespace
