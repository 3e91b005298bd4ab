// Display depth table and messages, files beside the program, and the choice of translation.
#include <gtest/gtest.h>

#include <QFile>
#include <QTranslator>
#include <QXmlStreamReader>

#include <iterator>

#include "app/startup.h"
#include "gui_common/qt_test_app.h"

namespace {

struct DepthCase {
    int m_nBits;
    bool m_bPalette;
    int m_nExpected;
    const char* m_szMode;
};

TEST(CheckDisplayDepth, ClassifiesEveryDepthOfTheTable) {
    TestApp();
    const DepthCase kCases[] = {
        {1, false, 2, "单色"},      {4, false, 2, "16色"}, {8, false, 2, "256色"},
        {16, false, 1, "16位高彩"}, {24, false, 0, ""},    {32, false, 0, ""},
        {15, false, 2, ""},         {2, false, 2, ""},     {0, false, 2, ""},
        {48, false, 2, ""},         {32, true, 2, ""},     {8, true, 2, ""},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE(i);
        QString mode = QStringLiteral("stale");
        EXPECT_EQ(ClassifyDisplayDepth(kCases[i].m_nBits, kCases[i].m_bPalette, mode),
                  kCases[i].m_nExpected);
        EXPECT_EQ(mode, QString::fromUtf8(kCases[i].m_szMode));
    }
}

TEST(CheckDisplayDepth, OffscreenScreenIsTrueColour) {
    TestApp();
    QString mode;
    EXPECT_EQ(CheckDisplayDepth(mode), kDepthTrueColour);
    EXPECT_TRUE(mode.isEmpty());
}

TEST(ConfirmDisplayDepth, HighColourAsksAndOnlyYesGoesOn) {
    CTestDesktop desktop;
    TestApp();
    const QString question = QString::fromUtf8(
        "您的显示器正工作在16位高彩模式。为了达到最好的效果，本程序要求工作在24位或32位真彩模式下。"
        "要继续吗？");
    for (const auto reply : {QMessageBox::Yes, QMessageBox::No}) {
        SCOPED_TRACE(reply);
        CTestDesktop& recorder = desktop.StartRecording();
        recorder.m_reply = reply;
        QString mode;
        const int result = ClassifyDisplayDepth(16, false, mode);
        EXPECT_EQ(ConfirmDisplayDepth(desktop, result, mode), reply == QMessageBox::Yes);
        ASSERT_EQ(recorder.m_messages.size(), 1u);
        EXPECT_EQ(recorder.m_messages[0].m_strText, question);
        EXPECT_EQ(recorder.m_messages[0].m_buttons, QMessageBox::Yes | QMessageBox::No);
    }
}

TEST(ConfirmDisplayDepth, RefusedModesEndWithOneMessageTrueColourSaysNothing) {
    CTestDesktop desktop;
    TestApp();
    const QString refusal =
        QString::fromUtf8("抱歉，本程序只能工作在真彩模式下。请先设置您的显示器。");
    for (const int bits : {1, 4, 8, 15}) {
        SCOPED_TRACE(bits);
        CTestDesktop& recorder = desktop.StartRecording();
        QString mode;
        EXPECT_FALSE(ConfirmDisplayDepth(desktop, ClassifyDisplayDepth(bits, false, mode), mode));
        ASSERT_EQ(recorder.m_messages.size(), 1u);
        EXPECT_EQ(recorder.m_messages[0].m_strText, refusal);
        EXPECT_EQ(recorder.m_messages[0].m_buttons, QMessageBox::Ok);
    }
    CTestDesktop& recorder = desktop.StartRecording();
    QString mode;
    EXPECT_TRUE(ConfirmDisplayDepth(desktop, ClassifyDisplayDepth(32, false, mode), mode));
    EXPECT_TRUE(recorder.m_messages.empty());
}

TEST(ProgramSiblingPath, ReplacesOrAppendsTheExtensionOfTheFileNameOnly) {
    const struct {
        const char* m_szProgram;
        const char* m_szExt;
        const char* m_szExpected;
    } kCases[] = {
        {"/opt/tarnwick/tarnwick", ".htm", "/opt/tarnwick/tarnwick.htm"},
        {"/opt/tarnwick/tarnwick", ".ini", "/opt/tarnwick/tarnwick.ini"},
        {"/home/a/my.tools/tarnwick", ".ini", "/home/a/my.tools/tarnwick.ini"},
        {"/home/a/bin/tarnwick.exe", ".htm", "/home/a/bin/tarnwick.htm"},
        {"/home/a/bin/tarnwick.1.2", ".ini", "/home/a/bin/tarnwick.1.ini"},
        {"/home/a/bin/.tarnwick", ".ini", "/home/a/bin/.tarnwick.ini"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szProgram);
        EXPECT_EQ(
            ProgramSiblingPath(QString::fromUtf8(c.m_szProgram), QString::fromUtf8(c.m_szExt)),
            QString::fromUtf8(c.m_szExpected));
    }
}

TEST(Translation, ChineseLocalesKeepTheSourceTextsOthersGetEnglish) {
    const struct {
        const char* m_szLocale;
        const char* m_szExpected;
    } kCases[] = {
        {"zh_CN", ""},
        {"zh_TW", ""},
        {"zh_HK", ""},
        {"en_US", "tarnwick_en"},
        {"de_DE", "tarnwick_en"},
        {"C", "tarnwick_en"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szLocale);
        EXPECT_EQ(TranslationFor(QLocale(QString::fromLatin1(c.m_szLocale))),
                  QString::fromLatin1(c.m_szExpected));
    }
}

TEST(Translation, EnglishIsBuiltInAndTranslatesTheTabs) {
    QApplication& app = TestApp();
    EXPECT_EQ(InstallTranslation(app, QLocale(QStringLiteral("zh_CN"))), nullptr);
    QTranslator* translator = InstallTranslation(app, QLocale(QStringLiteral("en_GB")));
    ASSERT_NE(translator, nullptr);
    EXPECT_EQ(QCoreApplication::translate("CMainSheet", "批量放大"),
              QStringLiteral("Batch Enlarge"));
    EXPECT_EQ(QCoreApplication::translate("CMainSheet", "图像平均"),
              QStringLiteral("Image Averaging"));
    QCoreApplication::removeTranslator(translator);
    delete translator;
    EXPECT_EQ(QCoreApplication::translate("CMainSheet", "批量放大"), QString::fromUtf8("批量放大"));
}

// Every text of the program has a finished English translation.
TEST(Translation, EveryMessageIsTranslated) {
    QFile file(QStringLiteral(TARNWICK_SOURCE_DIR "/resources/tarnwick_en.ts"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString source;
    int messages = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            continue;
        }
        if (xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            const QString type = xml.attributes().value(QStringLiteral("type")).toString();
            const QString text = xml.readElementText();
            if (type == u"vanished" || type == u"obsolete") {
                continue;
            }
            ++messages;
            EXPECT_TRUE(type.isEmpty() && !text.isEmpty())
                << "untranslated: " << source.toStdString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(messages, 0);
}

}  // namespace
