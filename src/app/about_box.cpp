#include "app/about_box.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/widgets/link_label.h"

CAboutBox::CAboutBox(CDesktop& desktop, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Tarnwick版本信息"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    auto* product = new QLabel(tr("Tarnwick 视频截图与图像增强工具") + u'\n' +
                                   QStringLiteral("Tarnwick Version 0.02 Beta"),
                               this);

    const QString email = QString::fromLatin1(AuthorEmail());
    m_pEmailLink = new CLinkLabel(desktop, email, QStringLiteral("mailto:") + email, this);
    m_pHomepageLink = new CLinkLabel(desktop, QString::fromLatin1(Homepage()), QString(), this);

    auto* people = new QGridLayout;
    people->addWidget(new QLabel(tr("作者："), this), 0, 0);
    people->addWidget(new QLabel(tr("Tarnwick 项目组"), this), 0, 1);
    people->addWidget(new QLabel(tr("电邮："), this), 1, 0);
    people->addWidget(m_pEmailLink, 1, 1, Qt::AlignLeft);
    people->setColumnStretch(1, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(product, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(people);
    layout->addWidget(new QLabel(tr("如果您希望了解本软件的最新信息，请访问作者的主页:"), this));
    layout->addWidget(m_pHomepageLink, 0, Qt::AlignLeft);
    layout->addWidget(new QLabel(tr("2026年12月"), this));
    layout->addWidget(new QLabel(tr("本软件是免费软件，欢迎使用和传播。"), this));
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
