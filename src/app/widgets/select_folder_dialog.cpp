#include "app/widgets/select_folder_dialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/widgets/desktop.h"
#include "platform/make_folder.h"

QString BmpFilesFilter() {
    return QCoreApplication::translate("CSelectFolderDialog", "BMP 文件 (*.bmp)");
}

QString JpegFilesFilter() {
    return QCoreApplication::translate("CSelectFolderDialog", "JPEG 文件 (*.jpg)");
}

QString AllFilesFilter() {
    return QCoreApplication::translate("CSelectFolderDialog", "所有文件 (*)");
}

QStringList BmpFolderFilters() {
    return {BmpFilesFilter(), AllFilesFilter()};
}

QStringList JpegFolderFilters() {
    return {JpegFilesFilter(), AllFilesFilter()};
}

namespace {
// Puts `widget` where `old` sits in the dialog's grid and hides `old`.
void ReplaceInGrid(QGridLayout* grid, QWidget* old, QWidget* widget) {
    const int index = old != nullptr && grid != nullptr ? grid->indexOf(old) : -1;
    if (index < 0) {
        if (grid != nullptr) {
            grid->addWidget(widget, grid->rowCount(), 0, 1, grid->columnCount());
        }
        return;
    }
    int row = 0;
    int column = 0;
    int rowSpan = 0;
    int columnSpan = 0;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    old->hide();
    grid->addWidget(widget, row, column, rowSpan, columnSpan);
}
}  // namespace

CSelectFolderDialog::CSelectFolderDialog(CDesktop& desktop, bool bShowFiles,
                                         const QString& strInitialFolder,
                                         const QStringList& filters, QWidget* parent)
    : QFileDialog(parent),
      m_desktop(desktop),
      m_bShowFiles(bShowFiles),
      m_strCurrentFolder(strInitialFolder),
      m_strTitle(tr("选择目录")) {
    // Qt's own dialog: the native ones cannot take the extra field.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::HideNameFilterDetails, false);
    setAcceptMode(QFileDialog::AcceptOpen);
    if (m_bShowFiles) {
        setFileMode(QFileDialog::AnyFile);
        if (!filters.isEmpty()) {
            setNameFilters(filters);
        }
    } else {
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly, true);
    }
    if (!strInitialFolder.isEmpty()) {
        setDirectory(strInitialFolder);
    }
    setWindowTitle(m_strTitle);

    auto* grid = qobject_cast<QGridLayout*>(layout());
    m_pPathEdit = new QLineEdit(strInitialFolder, this);
    m_pPathEdit->setObjectName(QStringLiteral("currentFolderEdit"));
    auto* nameEdit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ReplaceInGrid(grid, nameEdit, m_pPathEdit);
    if (auto* label = findChild<QLabel*>(QStringLiteral("fileNameLabel"))) {
        label->setText(tr("当前目录："));
        label->setBuddy(m_pPathEdit);
    }

    // Our own OK and Cancel: the dialog's own OK button follows file selection rules and would
    // be disabled while no file is chosen.
    m_pButtons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Vertical, this);
    ReplaceInGrid(grid, findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")), m_pButtons);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &CSelectFolderDialog::accept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &CSelectFolderDialog::reject);
    OkButton()->setDefault(true);

    // Every way of browsing (the list, the look-in box, back, up, typed paths) moves the root of
    // the dialog's file model; entering a folder by hand alone would miss some of them.
    if (auto* model = findChild<QFileSystemModel*>()) {
        connect(model, &QFileSystemModel::rootPathChanged, this,
                &CSelectFolderDialog::OnFolderChange);
    } else {
        connect(this, &QFileDialog::directoryEntered, this, &CSelectFolderDialog::OnFolderChange);
    }
    m_pPathEdit->setFocus();
}

QPushButton* CSelectFolderDialog::OkButton() const {
    return m_pButtons->button(QDialogButtonBox::Ok);
}

int CSelectFolderDialog::DoModal() {
    const int result = exec();
    m_strCurrentFolder.clear();
    return result;
}

void CSelectFolderDialog::OnFolderChange(const QString& strFolder) {
    m_strCurrentFolder = strFolder;
    m_pPathEdit->setText(strFolder);
}

void CSelectFolderDialog::accept() {
    const QString browsed = directory().absolutePath();
    QString folder = m_pPathEdit->text();
    if (folder.isEmpty()) {
        folder = browsed;
    }
    if (folder.isEmpty() || folder.contains(QStringLiteral("//"))) {
        m_desktop.ShowMessage(this, tr("无效的目录"), QMessageBox::Critical);
        return;
    }
    if (folder == u'~' || folder.startsWith(QStringLiteral("~/"))) {
        folder = QDir::homePath() + folder.mid(1);
    }
    if (QDir::isRelativePath(folder)) {
        folder = QDir(browsed).absoluteFilePath(folder);
    }
    if (folder.size() > 1 && folder.endsWith(u'/')) {
        folder.chop(1);
    }
    if (!QFileInfo(folder).isDir()) {
        const QString question = tr("%1\n\n该目录不存在，要创建它吗？").arg(folder);
        if (m_desktop.ShowMessage(this, question, QMessageBox::Question,
                                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
            const CStatus made = MakeFolder(QFile::encodeName(folder).toStdString());
            if (!QFileInfo(folder).isDir()) {
                QString text = tr("无法创建目录：\n%1").arg(folder);
                // The system's reason when it gave one; not for a name taken by a file.
                if (made.Error() != 0) {
                    text += QStringLiteral("\n\n") + QString::fromLocal8Bit(made.Reason());
                }
                m_desktop.ShowMessage(this, text);
                return;
            }
        }
    }
    SetSelectedFolder(folder);
    // Past QFileDialog::accept on purpose: it would judge its own name field again, not the
    // folder settled above.
    QDialog::accept();  // NOLINT(bugprone-parent-virtual-call)
}
