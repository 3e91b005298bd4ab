#include "app/main_sheet.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/about_box.h"
#include "app/startup.h"
#include "app/widgets/desktop.h"
#include "app/widgets/fontable_page.h"
#include "platform/program_path.h"

namespace {
// The tab control's least size: all four tab captions and a page.
const QSize kMinTabsSize(520, 380);
}  // namespace

CMainSheet::CMainSheet(CDesktop& desktop, QWidget* parent) : QDialog(parent), m_desktop(desktop) {
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    m_pTabs = new QTabWidget(this);
    // Room for all four tab captions; the pages' own needs are added as they come.
    m_pTabs->setMinimumSize(kMinTabsSize);
    m_pRmPage = new CFontablePage(129, m_desktop);
    m_pWmpPage = new CFontablePage(130, m_desktop);
    m_pScalePage = new CFontablePage(133, m_desktop);
    m_pMergePage = new CFontablePage(132, m_desktop);
    AddPage(m_pRmPage, QStringLiteral("RMPlayer"));
    AddPage(m_pWmpPage, QStringLiteral("WinMediaPlayer"));
    AddPage(m_pScalePage, tr("批量放大"));
    AddPage(m_pMergePage, tr("图像平均"));

    // The banner takes the place of the hidden OK button, left of the visible buttons.
    m_pBannerArea = new QWidget(this);
    m_pBannerArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    const QFontMetrics banner(BannerFont());
    m_pBannerArea->setMinimumSize(banner.horizontalAdvance(QString::fromLatin1(BannerText())) + 4,
                                  banner.height() + 2);
    m_pHelpButton = new QPushButton(tr("帮助"), this);
    m_pAboutButton = new QPushButton(tr("关于"), this);
    m_pCloseButton = new QPushButton(tr("关闭"), this);
    for (QPushButton* button : {m_pHelpButton, m_pAboutButton, m_pCloseButton}) {
        button->setAutoDefault(false);
    }
    connect(m_pHelpButton, &QPushButton::clicked, this, &CMainSheet::OnHelp);
    connect(m_pAboutButton, &QPushButton::clicked, this, &CMainSheet::OnAbout);
    connect(m_pCloseButton, &QPushButton::clicked, this, &CMainSheet::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pBannerArea, 1);
    buttons->addWidget(m_pHelpButton);
    buttons->addWidget(m_pAboutButton);
    buttons->addWidget(m_pCloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTabs, 1);
    layout->addLayout(buttons);

    // The window manager's menu offers Minimize through the hint above; the sheet's own context
    // menu offers it as well.
    auto* minimize = new QAction(tr("最小化"), this);
    connect(minimize, &QAction::triggered, this, &QWidget::showMinimized);
    addAction(minimize);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    m_pTabs->setCurrentIndex(0);
    // The caption names the media of the page being shown.
    connect(m_pTabs, &QTabWidget::currentChanged, this, &CMainSheet::UpdateTitle);
}

CMainSheet::~CMainSheet() {
    delete m_pTabs;
    m_pTabs = nullptr;
}

void CMainSheet::AddPage(CFontablePage* page, const QString& strCaption) {
    m_pTabs->addTab(page, strCaption);
    ConnectPage(page);
    UpdateMinimumSize();
}

void CMainSheet::UpdateMinimumSize() {
    // An explicit minimum would otherwise let the window squeeze the pages' fixed-size players.
    m_pTabs->setMinimumSize(kMinTabsSize);
    m_pTabs->setMinimumSize(kMinTabsSize.expandedTo(m_pTabs->minimumSizeHint()));
}

void CMainSheet::ConnectPage(CFontablePage* page) {
    page->SetHost(this);
    connect(page, &CFontablePage::BusyChanged, this, &CMainSheet::OnPageBusyChanged);
    connect(page, &CFontablePage::DocumentChanged, this, [this, page] {
        if (m_pTabs->currentWidget() == page) {
            UpdateTitle();
        }
    });
}

void CMainSheet::UpdateTitle() {
    const CFontablePage* page = qobject_cast<CFontablePage*>(m_pTabs->currentWidget());
    SetDocumentTitle(page != nullptr ? page->DocumentPath() : QString());
}

void CMainSheet::ReplacePage(int index, CFontablePage* page) {
    CFontablePage* old = Page(index);
    if (old == nullptr || page == nullptr) {
        return;
    }
    const QString caption = m_pTabs->tabText(index);
    const bool bCurrent = m_pTabs->currentIndex() == index;
    m_pTabs->removeTab(index);
    m_pTabs->insertTab(index, page, caption);
    ConnectPage(page);
    for (CFontablePage** member : {&m_pRmPage, &m_pWmpPage, &m_pScalePage, &m_pMergePage}) {
        if (*member == old) {
            *member = page;
        }
    }
    if (bCurrent) {
        m_pTabs->setCurrentIndex(index);
    }
    delete old;
    UpdateTitle();
    UpdateMinimumSize();
}

CFontablePage* CMainSheet::Page(int index) const {
    return qobject_cast<CFontablePage*>(m_pTabs->widget(index));
}

void CMainSheet::SetDocumentTitle(const QString& strPath) {
    QString title = QString::fromLatin1(kAppTitle);
    if (!strPath.isEmpty()) {
        title += u'-' + strPath.mid(strPath.lastIndexOf(u'/') + 1);
    }
    setWindowTitle(title);
}

QString CMainSheet::HelpPath() {
    const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
    return QFile::decodeName(FindHelpFile(program.toStdString()).c_str());
}

QUrl CMainSheet::HelpUrl(const QString& strPath, const QLocale& locale) {
    QUrl url = QUrl::fromLocalFile(QFileInfo(strPath).absoluteFilePath());
    // The page is Chinese from its top; the English part starts at its anchor.
    if (!TranslationFor(locale).isEmpty()) {
        url.setFragment(QStringLiteral("english"));
    }
    return url;
}

void CMainSheet::OnHelp() {
    const QString path = HelpPath();
    if (!QFileInfo(path).isFile()) {
        m_desktop.ShowMessage(this,
                              tr("抱歉，找不到帮助文件Tarnwick.htm。\n请下载完整的ZIP文件。"));
        return;
    }
    const QUrl url = HelpUrl(path, QLocale());
    if (!m_desktop.OpenUrl(url)) {
        m_desktop.ShowMessage(this,
                              tr("没有可以打开帮助文件的程序（例如网页浏览器）。\n帮助文件在：\n%1")
                                  .arg(QDir::toNativeSeparators(path)),
                              QMessageBox::Warning);
    }
}

void CMainSheet::OnAbout() {
    CAboutBox box(m_desktop, this);
    box.exec();
}

QFont CMainSheet::BannerFont() {
    QFont font;
    // Arial or a look-alike; named outright so that a CJK locale's preferred font does not
    // take the Latin banner over.
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(24);
    font.setBold(true);
    font.setItalic(true);
    font.setUnderline(false);
    return font;
}

QRect CMainSheet::BannerRect() const {
    const QRect tabs = m_pTabs->geometry();
    const QRect area = m_pBannerArea->geometry();
    return QRect(QPoint(tabs.left(), area.top()), QPoint(tabs.right(), area.bottom()));
}

void CMainSheet::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setFont(BannerFont());
    const QRect rect = BannerRect();
    const QString text = QString::fromLatin1(BannerText());
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    painter.setPen(QColor(16, 0, 0));
    painter.drawText(rect.translated(1, 1), flags, text);
    painter.setPen(QColor(255, 255, 0));
    painter.drawText(rect, flags, text);
}

void CMainSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bCentred) {
        m_bCentred = true;
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}

bool CMainSheet::AnyPageBusy() const {
    return FirstBusyPage() != nullptr;
}

CFontablePage* CMainSheet::FirstBusyPage() const {
    for (int i = 0; i < m_pTabs->count(); ++i) {
        if (CFontablePage* page = Page(i); page != nullptr && page->IsBusy()) {
            return page;
        }
    }
    return nullptr;
}

void CMainSheet::done(int result) {
    m_nPendingResult = result;
    if (m_bClosePending) {
        // Already confirmed: the sheet closes when the last busy page has ended.
        if (!AnyPageBusy()) {
            m_bClosePending = false;
            QDialog::done(result);
        }
        return;
    }
    if (const CFontablePage* busy = FirstBusyPage()) {
        // Nothing stops unless the user says so; the work goes on while the question shows.
        if (m_desktop.ShowMessage(this, busy->BusyQuestion(), QMessageBox::Question,
                                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
            return;
        }
    }
    if (!AnyPageBusy()) {
        QDialog::done(result);
        return;
    }
    m_bClosePending = true;
    for (int i = 0; i < m_pTabs->count(); ++i) {
        if (CFontablePage* page = Page(i); page != nullptr && page->IsBusy()) {
            page->RequestStop();
        }
    }
}

void CMainSheet::OnPageBusyChanged(bool bBusy) {
    if (bBusy || !m_bClosePending || AnyPageBusy()) {
        return;
    }
    // Queued: the page's job function is still unwinding when it reports the end.
    QTimer::singleShot(0, this, [this] {
        if (m_bClosePending) {
            done(m_nPendingResult);
        }
    });
}
