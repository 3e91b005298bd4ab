#include "app/widgets/fontable_page.h"

#include "app/main_sheet.h"

CFontablePage::CFontablePage(int nIDTemplate, QWidget* parent)
    : QWidget(parent), m_nIDTemplate(nIDTemplate) {}

CMainSheet* CFontablePage::MainSheet() const {
    return qobject_cast<CMainSheet*>(window());
}

QString CFontablePage::BusyQuestion() const {
    return tr("正在处理…，确定要停止并退出吗？");
}
