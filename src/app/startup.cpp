#include "app/startup.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QScreen>
#include <QTranslator>

#include <cstdio>

#include "app/widgets/desktop.h"
#include "platform/program_path.h"

int ClassifyDisplayDepth(int bitsPerPixel, bool bPalette, QString& strMode) {
    strMode.clear();
    if (bPalette) {
        return kDepthRefused;
    }
    switch (bitsPerPixel) {
        case 1:
            strMode = QCoreApplication::translate("Startup", "单色");
            return kDepthRefused;
        case 4:
            strMode = QCoreApplication::translate("Startup", "16色");
            return kDepthRefused;
        case 8:
            strMode = QCoreApplication::translate("Startup", "256色");
            return kDepthRefused;
        case 16:
            strMode = QCoreApplication::translate("Startup", "16位高彩");
            return kDepthHighColour;
        case 24:
        case 32:
            return kDepthTrueColour;
        default:
            return kDepthRefused;
    }
}

int CheckDisplayDepth(QString& strMode) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        strMode.clear();
        return kDepthRefused;
    }
    // Qt reports no palette state: displays that need a palette have at most 8 bits and are
    // refused by their depth anyway.
    return ClassifyDisplayDepth(screen->depth(), false, strMode);
}

bool ConfirmDisplayDepth(CDesktop& desktop, int result, const QString& strMode, QWidget* parent) {
    if (result == kDepthTrueColour) {
        return true;
    }
    if (result == kDepthHighColour) {
        const QString text = QCoreApplication::translate("Startup", "您的显示器正工作在") +
                             strMode +
                             QCoreApplication::translate(
                                 "Startup",
                                 "模式。为了达到最好的效果，本程序要求工作在24位或32位真彩模式下。"
                                 "要继续吗？");
        return desktop.ShowMessage(parent, text, QMessageBox::Question,
                                   QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    }
    const QString refusal = QCoreApplication::translate(
        "Startup", "抱歉，本程序只能工作在真彩模式下。请先设置您的显示器。");
    // Qt cannot draw on most palette displays, so the box may stay invisible there; a start from
    // a terminal still learns why the program ends.
    std::fputs(qPrintable(refusal + u'\n'), stderr);
    desktop.ShowMessage(parent, refusal);
    return false;
}

QString ProgramSiblingPath(const QString& programPath, const QString& ext) {
    return QFile::decodeName(
        ProgramSiblingPath(QFile::encodeName(programPath).toStdString(), ext.toStdString())
            .c_str());
}

QString TranslationFor(const QLocale& locale) {
    if (locale.language() == QLocale::Chinese) {
        return {};
    }
    return QStringLiteral("tarnwick_en");
}

QTranslator* InstallQtTranslation(QCoreApplication& app, const QLocale& locale) {
    // The program's Chinese is simplified Chinese: every Chinese locale gets Qt's in the same.
    const QString name = locale.language() == QLocale::Chinese
                             ? QStringLiteral("qtbase_zh_CN")
                             : QStringLiteral("qtbase_") + locale.name();
    auto* translator = new QTranslator(&app);
    if (!translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

QTranslator* InstallTranslation(QCoreApplication& app, const QLocale& locale) {
    // Qt's own texts (Yes, No, the file dialog) follow the same locale when Qt's translations
    // are installed; without them they stay English.
    InstallQtTranslation(app, locale);
    const QString name = TranslationFor(locale);
    if (name.isEmpty()) {
        return nullptr;
    }
    auto* translator = new QTranslator(&app);
    if (!translator->load(name, QStringLiteral(":/i18n")) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}
