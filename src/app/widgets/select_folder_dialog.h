// Picking a folder in a file dialog that also lists the images the folder holds.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

class CDesktop;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;

// File-type filters in the program's words: "BMP 文件 (*.bmp)", "JPEG 文件 (*.jpg)", "所有文件
// (*)".
QString BmpFilesFilter();
QString JpegFilesFilter();
QString AllFilesFilter();

// Name filters of the folder buttons: the job pages by their source type, the player pages BMP.
QStringList BmpFolderFilters();
QStringList JpegFolderFilters();

// Qt's own file dialog (never the native one) titled "选择目录" (in English "Select folder"),
// listing the files of the filter, with a "当前目录：" ("Current Folder:") field that follows the
// browsing and can be typed into. OK checks the folder, offers to create a missing one with its
// parents, and returns the folder the field names (a typed folder wins over the one browsed, since
// that is what the user confirmed), without a trailing "/". Relative text is taken in the browsed
// folder; "~" is the home folder.
class CSelectFolderDialog : public QFileDialog {
    Q_OBJECT
public:
    // `desktop` asks and warns for the OK checks; it outlives the dialog.
    CSelectFolderDialog(CDesktop& desktop, bool bShowFiles, const QString& strInitialFolder,
                        const QStringList& filters, QWidget* parent = nullptr);

    // Shows the dialog; QDialog::Accepted (1) after OK.
    int DoModal();
    QString GetSelectedFolder() const { return m_strSelectedFolder; }
    void SetSelectedFolder(const QString& strFolder) { m_strSelectedFolder = strFolder; }
    // The folder the browser shows.
    QString CurrentFolder() const { return m_strCurrentFolder; }

    QLineEdit* PathEdit() const { return m_pPathEdit; }
    QPushButton* OkButton() const;

    // The OK checks; closes the dialog with Accepted when the folder is usable.
    void accept() override;

private:
    void OnFolderChange(const QString& strFolder);

    CDesktop& m_desktop;
    bool m_bShowFiles;
    QString m_strSelectedFolder;
    QString m_strCurrentFolder;
    QLineEdit* m_pPathEdit = nullptr;
    QDialogButtonBox* m_pButtons = nullptr;
    QString m_strTitle;
};
