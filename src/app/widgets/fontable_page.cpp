#include "app/widgets/fontable_page.h"

CFontablePage::CFontablePage(int nIDTemplate, QWidget* parent)
    : QWidget(parent), m_nIDTemplate(nIDTemplate) {}

QString CFontablePage::BusyQuestion() const {
    return tr("正在处理…，确定要停止并退出吗？");
}
