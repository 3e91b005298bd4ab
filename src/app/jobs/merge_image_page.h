// The averaging page ("图像平均"): every image of one kind in a source folder averaged into one
// target file, with optional 800x600 and 1024x768 copies, driven through CMergeImageJob.
#pragma once

#include "app/jobs/job_page_widget.h"
#include "jobs/settings_file.h"

class QCheckBox;

class CMergeImagePage : public CJobPageWidget {
    Q_OBJECT
public:
    explicit CMergeImagePage(QWidget* parent = nullptr);

    void TakeControlValues() override;
    void RefreshControls() override;

    // The page's fields as the settings of the section "MergeImage", and back.
    CMergeSettings Settings() const;
    void SetSettings(const CMergeSettings& settings);

    QCheckBox* AutoNumberCheck() const { return m_pAutoNumberCheck; }
    QCheckBox* Resize800Check() const { return m_pResize800Check; }
    QCheckBox* Resize1024Check() const { return m_pResize1024Check; }

protected:
    void OnStart() override;
    void OnSelectTarget() override;
    void OnViewTarget() override;
    bool SaveToFile(std::string* why) override;
    void LoadFromFile() override;
    void ResetFields() override;

private:
    bool m_bResize800 = true;
    bool m_bResize1024 = true;
    bool m_bNoSameFile = true;

    QCheckBox* m_pAutoNumberCheck;
    QCheckBox* m_pResize800Check;
    QCheckBox* m_pResize1024Check;
};
