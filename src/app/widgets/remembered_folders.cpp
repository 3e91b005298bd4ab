#include "app/widgets/remembered_folders.h"

#include <QDir>
#include <QMetaEnum>
#include <QSettings>

namespace {

QString Key(CRememberedFolders::Folder which) {
    return QStringLiteral("Folders/") +
           QString::fromLatin1(QMetaEnum::fromType<CRememberedFolders::Folder>().valueToKey(which));
}

}  // namespace

CRememberedFolders::CRememberedFolders(const QString& stateFile, QObject* parent)
    : QObject(parent), m_strStateFile(stateFile) {}

QString CRememberedFolders::StateFilePath() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative value is to be ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/tarnwick/state.ini");
}

QString CRememberedFolders::Get(Folder which) const {
    const QSettings state(m_strStateFile, QSettings::IniFormat);
    return state.value(Key(which)).toString();
}

void CRememberedFolders::Set(Folder which, const QString& path) {
    if (path.isEmpty())
        return;
    if (Get(which) != path) {
        QSettings state(m_strStateFile, QSettings::IniFormat);
        state.setValue(Key(which), path);
        state.sync();
    }
    emit Changed(which, path);
}

QString CRememberedFolders::Choice(const QString& key, const QString& fallback) const {
    const QSettings state(m_strStateFile, QSettings::IniFormat);
    return state.value(QStringLiteral("Choices/") + key, fallback).toString();
}

void CRememberedFolders::SetChoice(const QString& key, const QString& value) {
    if (Choice(key, QString()) == value)
        return;
    // Silent on failure, as the folders are.
    QSettings state(m_strStateFile, QSettings::IniFormat);
    state.setValue(QStringLiteral("Choices/") + key, value);
    state.sync();
}
