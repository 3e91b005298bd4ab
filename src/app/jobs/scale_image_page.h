// The enlarging page ("批量放大"): every image of one kind in a source folder enlarged by x2 or
// x3, or brought to 640x480, 800x600 or 1024x768, into a target folder, driven through
// CScaleImageJob.
#pragma once

#include "app/jobs/job_page_widget.h"

class QComboBox;

class CScaleImagePage : public CJobPage<CScaleParams, &CScaleParams::m_strTargetFolder> {
    Q_OBJECT
public:
    explicit CScaleImagePage(CDesktop& desktop, const CRunContext& context = {},
                             QWidget* parent = nullptr);

    void TakeControlValues() override;
    void RefreshControls() override;

    QComboBox* SizeList() const { return m_pSizeList; }

protected:
    void OnStart() override;
    void OnSelectTarget() override;
    void OnViewTarget() override;
    std::string TargetFolder() override;
    QString MissingTargetHint() const override;
    // The source of the result shown is what the viewer compares it with.
    void CompleteSummary(CJobSummary& summary, const CJobResult& result,
                         const std::string& resultSource) override;

private:
    QComboBox* m_pSizeList;
};
