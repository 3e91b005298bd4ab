// The folders the program remembers between runs: the last folders of each job page, the capture
// folder that both player pages share, and the folder of the last media file. They live in a
// small state file of their own, apart from the settings file, whose Save, Load and Reset keep
// their meaning.
#pragma once

#include <QObject>
#include <QString>

class CRememberedFolders : public QObject {
    Q_OBJECT
public:
    enum Folder {
        MergeSource,  // averaging: source folder
        MergeTarget,  // averaging: target file (its folder is the one remembered)
        ScaleSource,  // enlarging: source folder
        ScaleTarget,  // enlarging: target folder
        Capture,      // the player pages' capture folder
        Media,        // the folder of the last media file opened
    };
    Q_ENUM(Folder)

    // A store kept in `stateFile`; two stores on one file see each other's folders.
    explicit CRememberedFolders(const QString& stateFile, QObject* parent = nullptr);

    // The program's state file: $XDG_STATE_HOME/tarnwick/state.ini, or
    // ~/.local/state/tarnwick/state.ini.
    static QString StateFilePath();
    QString StateFile() const { return m_strStateFile; }

    // The remembered path, or empty.
    QString Get(Folder which) const;
    // Remembers a non-empty `path` at once (written to the state file) and announces it; an
    // empty path is ignored, so clearing a field forgets nothing. A failed write is silent: the
    // state file is a convenience, never the user's data.
    void Set(Folder which, const QString& path);
    // A choice of a page remembered beside the folders (a file type, a scale) under `key`;
    // `fallback` when none is.
    QString Choice(const QString& key, const QString& fallback) const;
    void SetChoice(const QString& key, const QString& value);

signals:
    void Changed(CRememberedFolders::Folder which, const QString& path);

private:
    QString m_strStateFile;
};
