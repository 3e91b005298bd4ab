// The pages say why a job did not start and what to do: a target that would replace kept
// sources, a target folder another job is writing into. Nothing is touched.
#include <gtest/gtest.h>

#include <QPushButton>

#include <filesystem>
#include <map>
#include <string>

#include "app/jobs/merge_image_page.h"
#include "app/jobs/scale_image_page.h"
#include "common/temp_dir.h"
#include "gui_common/qt_test_app.h"
#include "jobs/job_guard.h"
#include "jobs/jobs_test_util.h"

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[entry.path().string()] = jobs_test::ReadText(entry.path());
    return files;
}

}  // namespace

TEST(JobPages, RefusalsSayWhyAndWhatToDo) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src", busy = dir.Path() / "busy";
    jobs_test::WriteFlatBmp(src / "f0.bmp", 4, 4, 10);
    jobs_test::WriteFlatBmp(src / "f1.bmp", 4, 4, 20);
    fs::create_directories(busy);
    const std::string kOverSources = "目标会覆盖源文件";
    const std::string kBusy = "另一个任务正在向目标目录写入文件";
    const struct {
        const char* name;
        bool bMerge;
        fs::path target;
        std::string expected;
    } kCases[] = {
        {"average onto a source", true, src / "f1.bmp", kOverSources},
        {"enlarge into the source folder", false, src, kOverSources},
        {"average into a busy folder", true, busy / "avg.bmp", kBusy},
        {"enlarge into a busy folder", false, busy, kBusy},
    };
    CJobGuard other;  // another job on `busy`
    ASSERT_TRUE(other.Lock(busy.string()));
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const auto before = Snapshot(dir.Path());
        CMergeImagePage merge(desktop);
        CScaleImagePage scale(desktop);
        CJobPageWidget* page = &merge;
        if (c.bMerge) {
            CMergeParams params;
            params.m_strSrcDir = src.string();
            params.m_strTargetFile = c.target.string();
            params.m_bDelSrc = params.m_bAutoNumber = false;
            merge.SetParams(params);
        } else {
            CScaleParams params;
            params.m_strSrcDir = src.string();
            params.m_strTargetFolder = c.target.string();
            params.m_bDelSrc = false;
            scale.SetParams(params);
            page = &scale;
        }
        page->RefreshControls();
        CTestDesktop& messages = desktop.StartRecording();
        page->StartButton()->click();
        ASSERT_EQ(messages.m_texts.size(), 1u);
        EXPECT_EQ(messages.m_texts[0].rfind(c.expected, 0), 0u) << messages.m_texts[0];
        EXPECT_FALSE(page->IsBusy());
        EXPECT_EQ(Snapshot(dir.Path()), before);
    }
}
