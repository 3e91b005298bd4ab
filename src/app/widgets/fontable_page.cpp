#include "app/widgets/fontable_page.h"

CFontablePage::CFontablePage(int nIDTemplate, CDesktop& desktop, QWidget* parent)
    : QWidget(parent), m_nIDTemplate(nIDTemplate), m_desktop(desktop) {}

QString CFontablePage::BusyQuestion() const {
    return tr("正在处理…，确定要停止并退出吗？");
}
