#include "app/capture/recording_line.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <QUrl>

#include <algorithm>

#include "app/capture/player_panel_widget.h"
#include "app/widgets/desktop.h"
#include "app/widgets/path_label.h"
#include "capture/recording.h"

CRecordingLine::CRecordingLine(CDesktop& desktop, QWidget* parent)
    : QWidget(parent), m_desktop(desktop) {
    m_pText = new QLabel(this);
    m_pText->setTextFormat(Qt::RichText);
    m_pText->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    // Never wider than the page gives: the folder is shortened instead.
    m_pText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pText->setMinimumWidth(0);
    m_pOpenFolder = new QPushButton(tr("打开文件夹"), this);
    m_pOpenFolder->setAutoDefault(false);
    m_pOpenFolder->hide();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_pText, 1);
    row->addWidget(m_pOpenFolder);
    // The height of a line with the button, whether the button shows or not.
    setMinimumHeight(m_pOpenFolder->sizeHint().height());
    m_pText->installEventFilter(this);
    connect(m_pText, &QLabel::linkActivated, this, &CRecordingLine::OpenFolder);
    connect(m_pOpenFolder, &QPushButton::clicked, this, &CRecordingLine::OpenFolder);
}

void CRecordingLine::ShowProgress(const CRecordingResult& result, double seconds,
                                  const QString& strFolder) {
    m_strFolder = strFolder;
    Show(tr("录像中：已写入 %1 幅，丢弃 %2 幅，媒体时间 %3")
                 .arg(result.m_nWritten)
                 .arg(result.m_nDropped)
                 .arg(FormatPlayTime(seconds)) +
             RenumberedText(result),
         tr("，保存到 %1"), false);
}

void CRecordingLine::ShowSummary(const CRecordingResult& result, double seconds,
                                 const QString& strFolder) {
    m_strFolder = strFolder;
    QString figures = tr("录像结束：已写入 %1 幅，丢弃 %2 幅，媒体时间 %3")
                          .arg(result.m_nWritten)
                          .arg(result.m_nDropped)
                          .arg(FormatPlayTime(seconds)) +
                      RenumberedText(result);
    if (const int lost = result.m_nFailed + result.m_nUnwritten; lost > 0)
        figures += tr("，%1 幅未能写入").arg(lost);
    Show(figures, tr("，在 %1"), true);
}

QString CRecordingLine::RenumberedText(const CRecordingResult& result) {
    if (result.m_nRenumbered == 0)
        return QString();
    return tr("（其中 %1 幅因同名文件已存在，改用了下一个空闲编号）").arg(result.m_nRenumbered);
}

void CRecordingLine::Clear() {
    m_strFigures.clear();
    m_strFolderText.clear();
    m_strFolder.clear();
    m_bSummary = false;
    m_pOpenFolder->hide();
    m_pText->clear();
}

QString CRecordingLine::PlainText() const {
    return QTextDocumentFragment::fromHtml(m_pText->text()).toPlainText();
}

void CRecordingLine::Show(const QString& strFigures, const QString& strFolderText, bool bSummary) {
    m_strFigures = strFigures;
    m_strFolderText = strFolderText;
    m_bSummary = bSummary;
    m_pOpenFolder->setVisible(bSummary);
    Relayout();
}

void CRecordingLine::Relayout() {
    if (m_strFigures.isEmpty())
        return;
    // The folder gets what is left of the line, shortened in its middle.
    const QFontMetrics metrics(m_pText->font());
    const QString around = m_strFolderText.arg(QString());
    const int room = m_pText->width() - metrics.horizontalAdvance(m_strFigures + around) - 4;
    const QString shown = ElidePath(m_strFolder, metrics, std::max(room, 40));
    const QString link = QStringLiteral("<a href=\"folder\">%1</a>").arg(shown.toHtmlEscaped());
    m_pText->setText(m_strFigures.toHtmlEscaped() + m_strFolderText.toHtmlEscaped().arg(link));
    m_pText->setToolTip(m_strFolder);
}

bool CRecordingLine::eventFilter(QObject* watched, QEvent* event) {
    // The text's own width decides how much of the folder fits.
    if (watched == m_pText && event->type() == QEvent::Resize)
        Relayout();
    return QWidget::eventFilter(watched, event);
}

void CRecordingLine::OpenFolder() {
    if (m_strFolder.isEmpty())
        return;
    if (!m_desktop.OpenUrl(QUrl::fromLocalFile(m_strFolder)))
        m_desktop.ShowMessage(this, tr("无法打开文件夹 %1。").arg(m_strFolder),
                              QMessageBox::Warning);
}
