// Start-up checks and helpers of the desktop program: display depth, translation, the files
// that live beside the program.
#pragma once

#include <QLocale>
#include <QString>

class CDesktop;
class QCoreApplication;
class QTranslator;
class QWidget;

// Display depth classes: 0 true colour (24 or 32 bits), 1 16-bit colour (usable after asking),
// 2 anything the program refuses.
inline constexpr int kDepthTrueColour = 0;
inline constexpr int kDepthHighColour = 1;
inline constexpr int kDepthRefused = 2;

// Classifies `bitsPerPixel` (bits per pixel times planes); `strMode` receives the mode's name
// for 1, 4, 8 and 16 bits and is emptied otherwise. A palette-based display is refused at once.
int ClassifyDisplayDepth(int bitsPerPixel, bool bPalette, QString& strMode);

// Classifies the primary screen's depth.
int CheckDisplayDepth(QString& strMode);

// Asks or refuses as the depth class demands; false means the program must end.
bool ConfirmDisplayDepth(CDesktop& desktop, int result, const QString& strMode,
                         QWidget* parent = nullptr);

// The path of a file beside `programPath` named like the program with its extension replaced by
// `ext` (".htm", ".ini"), or with `ext` appended when the name has none. A dot in a folder name
// is never taken for an extension.
QString ProgramSiblingPath(const QString& programPath, const QString& ext);

// Base name of the translation the program loads for `locale` ("tarnwick_en"), or empty when the
// program's own Chinese texts serve that locale.
QString TranslationFor(const QLocale& locale);

// Loads and installs Qt's own translation for `locale` (simplified Chinese for every Chinese
// locale, as the program's texts are) from Qt's translations folder. Returns it, owned by `app`,
// or null when none is installed for that locale.
QTranslator* InstallQtTranslation(QCoreApplication& app, const QLocale& locale);

// Loads and installs the program's translation for `locale` into `app` (and Qt's own, where
// installed). Returns the program's translator, owned by `app`, or null when none was needed or
// found.
QTranslator* InstallTranslation(QCoreApplication& app, const QLocale& locale);
