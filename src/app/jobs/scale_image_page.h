// The enlarging page ("批量放大"): every image of one kind in a source folder enlarged by x2 or
// x3, or brought to 640x480, 800x600 or 1024x768, into a target folder, driven through
// CScaleImageJob.
#pragma once

#include "app/jobs/job_page_widget.h"
#include "jobs/settings_file.h"

class QComboBox;

class CScaleImagePage : public CJobPageWidget {
    Q_OBJECT
public:
    explicit CScaleImagePage(QWidget* parent = nullptr);

    void TakeControlValues() override;
    void RefreshControls() override;

    // The page's fields as the settings of the section "ScaleImage", and back.
    CScaleSettings Settings() const;
    void SetSettings(const CScaleSettings& settings);

    QComboBox* SizeList() const { return m_pSizeList; }

protected:
    void OnStart() override;
    void OnSelectTarget() override;
    void OnViewTarget() override;
    bool SaveToFile(std::string* why) override;
    void LoadFromFile() override;
    void ResetFields() override;

private:
    int m_nScale = 0;  // 0 "x2", 1 "x3", 2 "640x480", 3 "800x600", 4 "1024x768"

    QComboBox* m_pSizeList;
};
