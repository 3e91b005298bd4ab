#include "app/widgets/image_viewer.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QScreen>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <optional>

#include "app/widgets/desktop.h"
#include "app/widgets/image_canvas.h"
#include "app/widgets/select_folder_dialog.h"
#include "image/image_file.h"

namespace {

// The JPEG quality of a picture saved from the viewer.
constexpr int kSaveQuality = 95;

// The type the viewer reads or writes a file as, by its extension.
std::optional<PictureFileType> TypeOf(const QString& path) {
    return PictureFileTypeOf(QFile::encodeName(path).toStdString());
}

QString PngFilesFilter() {
    return QCoreApplication::translate("CImageViewer", "PNG 文件 (*.png)");
}

}  // namespace

CResult<QImage> ReadViewerImage(const QString& path) {
    QImageReader reader(path);
    // Qt knows BMP files by ".bmp" only; the program also writes them as ".dib".
    if (TypeOf(path) == PictureFileType::Bmp) {
        reader.setFormat("bmp");
    }
    QImage image = reader.read();
    if (image.isNull()) {
        return CStatus::Failure(reader.errorString().toStdString());
    }
    return image;
}

CStatus SaveViewerImage(const QImage& image, const std::string& path) {
    const std::optional<PictureFileType> type = PictureFileTypeOf(path);
    if (!type) {
        return CStatus::Failure("the picture is written as .bmp, .jpg, .jpeg or .png; name it so");
    }
    // The program's writers take a bottom-up 24-bit picture in B, G, R order.
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    CDibImage dib;
    if (CStatus made = dib.Create(rgb.width(), rgb.height(), 24); !made) {
        return made;
    }
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* from = rgb.constScanLine(y);
        std::uint8_t* to = dib.TopRow(y);
        for (int x = 0; x < rgb.width(); ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    return SavePictureFile(path, dib, *type, kSaveQuality);
}

CImageViewer::CImageViewer(CDesktop& desktop, const QString& path, const QImage& image,
                           QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_desktop(desktop),
      m_strPath(path),
      m_pCanvas(new CImageCanvas(this)),
      m_pStatus(new QLabel(this)),
      m_pFit(new QAction(tr("适合窗口"), this)),
      m_pActualSize(new QAction(QStringLiteral("1:1"), this)),
      m_pCompare(new QAction(tr("对比"), this)),
      m_pSave(new QAction(tr("另存为…"), this)),
      m_pCopy(new QAction(tr("复制"), this)),
      m_pOpenExternal(new QAction(tr("用系统查看器打开"), this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" - ") +
                   QString::fromLatin1(kAppTitle));
    m_pCanvas->SetImage(image);

    m_pFit->setShortcut(Qt::Key_F);
    m_pFit->setToolTip(tr("把整张图像缩放到窗口大小（F）；滚轮以指针处为中心缩放，拖动移动图像"));
    m_pActualSize->setShortcut(Qt::Key_1);
    m_pActualSize->setToolTip(tr("一个图像像素对一个屏幕像素（1）"));
    m_pCompare->setCheckable(true);
    m_pCompare->setShortcut(Qt::Key_C);
    m_pCompare->setToolTip(
        tr("对比（C）：分割线左边是对比图像，右边是结果，拖动分割线可移动它；"
           "按住空格键或 B 键看整张对比图像"));
    m_pSave->setShortcut(QKeySequence::Save);
    m_pSave->setToolTip(tr("把图像另存为 BMP、JPEG 或 PNG 文件，格式按扩展名而定（Ctrl+S）"));
    m_pCopy->setShortcut(QKeySequence::Copy);
    m_pCopy->setToolTip(tr("把图像复制到剪贴板（Ctrl+C）"));
    m_pOpenExternal->setShortcut(Qt::Key_O);
    m_pOpenExternal->setToolTip(tr("用系统为这种文件设定的程序打开（O）"));
    m_pCompare->setEnabled(false);

    auto* tools = new QToolBar(this);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tools->addAction(m_pFit);
    tools->addAction(m_pActualSize);
    tools->addAction(m_pCompare);
    tools->addSeparator();
    tools->addAction(m_pSave);
    tools->addAction(m_pCopy);
    tools->addAction(m_pOpenExternal);
    // The keys go to the picture (Space and B are held there), never to a button.
    for (QWidget* button : tools->findChildren<QWidget*>()) {
        button->setFocusPolicy(Qt::NoFocus);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tools);
    layout->addWidget(m_pCanvas, 1);
    m_pStatus->setContentsMargins(6, 3, 6, 3);
    layout->addWidget(m_pStatus);
    m_pCanvas->setFocus();

    connect(m_pFit, &QAction::triggered, m_pCanvas, &CImageCanvas::FitToWindow);
    connect(m_pActualSize, &QAction::triggered, m_pCanvas, &CImageCanvas::ShowActualSize);
    connect(m_pCompare, &QAction::toggled, this, [this](bool bOn) {
        m_pCanvas->SetCompareShown(bOn);
        UpdateStatus();
    });
    connect(m_pSave, &QAction::triggered, this, &CImageViewer::OnSave);
    connect(m_pCopy, &QAction::triggered, this, &CImageViewer::CopyToClipboard);
    connect(m_pOpenExternal, &QAction::triggered, this,
            [this] { m_desktop.OpenOrReport(m_strPath, this); });
    connect(m_pCanvas, &CImageCanvas::ScaleChanged, this, &CImageViewer::UpdateStatus);
    UpdateStatus();
}

void CImageViewer::SetCompare(const CViewerCompare& compare) {
    m_bComparePending = false;
    m_strCaption = compare.m_strCaption;
    m_pCanvas->SetCompare(compare.m_image);
    m_pCompare->setEnabled(m_pCanvas->HasCompare());
    m_pCompare->setChecked(m_pCanvas->HasCompare());
    m_pCanvas->SetCompareShown(m_pCanvas->HasCompare());
    UpdateStatus();
}

void CImageViewer::SetComparePending(bool bPending) {
    m_bComparePending = bPending;
    UpdateStatus();
}

void CImageViewer::UpdateStatus() {
    const QImage& image = m_pCanvas->Image();
    QString text = tr("%1 x %2 像素，缩放 %3%")
                       .arg(image.width())
                       .arg(image.height())
                       .arg(qRound(m_pCanvas->Scale() * 100));
    if (m_pCanvas->CompareShown()) {
        text += tr("；左：%1，右：结果").arg(m_strCaption);
    } else if (m_bComparePending) {
        text += tr("；正在准备对比图像…");
    }
    m_pStatus->setText(text);
}

bool CImageViewer::SaveAs(const QString& path) {
    if (!TypeOf(path)) {
        m_desktop.ShowMessage(
            this,
            tr("无法保存 %1：\n只能保存为 BMP、JPEG 或 PNG 文件，请用 .bmp、.jpg 或 .png 扩展名。")
                .arg(path),
            QMessageBox::Warning);
        return false;
    }
    const CStatus saved =
        SaveViewerImage(m_pCanvas->Image(), QFile::encodeName(path).toStdString());
    if (!saved) {
        m_desktop.ShowMessage(
            this, tr("无法保存 %1：\n%2").arg(path, QString::fromStdString(saved.Reason())),
            QMessageBox::Warning);
        return false;
    }
    return true;
}

void CImageViewer::CopyToClipboard() {
    QGuiApplication::clipboard()->setImage(m_pCanvas->Image());
}

void CImageViewer::OnSave() {
    QFileDialog dialog(this, tr("另存为"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({PngFilesFilter(), JpegFilesFilter(), BmpFilesFilter()});
    dialog.setDefaultSuffix(QStringLiteral("png"));
    // A name typed without extension takes the one of the filter chosen.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter == JpegFilesFilter()  ? QStringLiteral("jpg")
                                : filter == BmpFilesFilter() ? QStringLiteral("bmp")
                                                             : QStringLiteral("png"));
    });
    const QFileInfo info(m_strPath);
    dialog.setDirectory(info.absolutePath());
    dialog.selectFile(info.completeBaseName() + QStringLiteral(".png"));
    // The dialog itself asks before an existing file is replaced.
    if (m_desktop.Exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    SaveAs(dialog.selectedFiles().constFirst());
}

CImageViewer* OpenImageViewer(CDesktop& desktop, const QString& path, const CViewerCompare& compare,
                              QWidget* parent) {
    const CResult<QImage> read = ReadViewerImage(path);
    if (!read) {
        desktop.ShowMessage(parent,
                            QCoreApplication::translate("CImageViewer", "无法读取图像 %1：\n%2")
                                .arg(path, QString::fromStdString(read.Reason())),
                            QMessageBox::Warning);
        return nullptr;
    }
    const QImage& image = *read;
    auto* viewer = new CImageViewer(desktop, path, image, parent);
    viewer->SetCompare(compare);
    // As large as the picture at 1:1 where the screen has room, at most most of the screen.
    QSize size = image.size() / viewer->devicePixelRatioF() + QSize(0, 80);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableSize() * 0.85);
    }
    viewer->resize(size.expandedTo(QSize(480, 360)));
    viewer->show();
    return viewer;
}
