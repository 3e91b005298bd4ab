// The averaging page ("图像平均"): every image of one kind in a source folder averaged into one
// target file, with optional 800x600 and 1024x768 copies, driven through CMergeImageJob. The
// method list and the align box choose how the images are combined.
#pragma once

#include "app/jobs/job_page_widget.h"
#include "stack/stack.h"

class QCheckBox;
class QComboBox;

class CMergeImagePage : public CJobPage<CMergeParams, &CMergeParams::m_strTargetFile> {
    Q_OBJECT
public:
    explicit CMergeImagePage(CDesktop& desktop, const CRunContext& context = {},
                             QWidget* parent = nullptr);

    void TakeControlValues() override;
    void RefreshControls() override;

    QCheckBox* AutoNumberCheck() const { return m_pAutoNumberCheck; }
    QCheckBox* Resize800Check() const { return m_pResize800Check; }
    QCheckBox* Resize1024Check() const { return m_pResize1024Check; }
    // Entries in the order of the methods' numbers (kStackMethods).
    QComboBox* MethodList() const { return m_pMethodList; }
    QCheckBox* AlignCheck() const { return m_pAlignCheck; }

    // How the job summary names why a file was left out: the stacker's reasons in the page's
    // language; any other reason as the engine gave it.
    static QString LeftOutReason(const CStackFile& file);

protected:
    void OnStart() override;
    void OnSelectTarget() override;
    void OnViewTarget() override;
    bool OutputIsJpeg() override;
    std::string TargetFolder() override;
    QString MissingTargetHint() const override;
    // The method, the pictures used and left out and the result's size; the plain mean of the
    // same pictures (or, for the plain mean, the first) to compare the result with.
    void CompleteSummary(CJobSummary& summary, const CJobResult& result,
                         const std::string& resultSource) override;

private:
    // The method as the summary names it, "（已对齐）" after it when aligned.
    static QString MethodName(StackMethod method, bool bAlign);

    QCheckBox* m_pAutoNumberCheck;
    QCheckBox* m_pResize800Check;
    QCheckBox* m_pResize1024Check;
    QComboBox* m_pMethodList;
    QCheckBox* m_pAlignCheck;
    CMergeParams m_ran;               // the parameters of the last job
    std::vector<std::string> m_used;  // the pictures it used, in scan order
};
