#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "common/still_scene.h"
#include "common/temp_dir.h"
#include "image/frame_image.h"
#include "image/image_file.h"
#include "jobs/still_job.h"

namespace {

// Makes a file at each of `paths` as the job begins its last stage: after the target's name
// was chosen, before the picture is written.
class CMakesFilesMeanwhile : public IStillJobObserver {
public:
    explicit CMakesFilesMeanwhile(std::vector<std::string> paths) : m_paths(std::move(paths)) {}
    void OnEvent(const CStillJobEvent& event) override {
        if (std::holds_alternative<CStillSharpening>(event))
            for (const std::string& path : m_paths) WriteAllBytes(path, {'x'});
    }
    bool StopRequested() override { return false; }

private:
    std::vector<std::string> m_paths;
};

}  // namespace

TEST(StillJob, AFreeNameNeverReplacesAFileMadeBeforeOrMeanwhile) {
    // Frames of a textured scene, a few pixels apart, as a folder of pictures.
    const still_scene::CCanvas canvas = still_scene::CCanvas::Random(400, 340, 3);
    TempDir frames;
    for (int i = 0; i < 4; ++i) {
        CDibImage image;
        ASSERT_TRUE(FrameToDib(canvas.Frame(96, 80, 4, 8 + 3 * i, 8 + 2 * i), image).Ok());
        char name[32];
        std::snprintf(name, sizeof name, "%08d.bmp", 40 * i);
        ASSERT_TRUE(SavePictureFile(frames.File(name), image, PictureFileType::Bmp, 95).Ok());
    }
    struct Case {
        const char* name;
        bool bFreeName;
        std::vector<std::string> before, meanwhile;
        std::string written;
    };
    const Case cases[] = {
        {"nothing there", true, {}, {}, "still.bmp"},
        {"taken before", true, {"still.bmp"}, {}, "still_2.bmp"},
        {"taken meanwhile", true, {}, {"still.bmp"}, "still_2.bmp"},
        {"both", true, {"still.bmp"}, {"still_2.bmp"}, "still_3.bmp"},
        // Without the option the target is replaced, as the command line's contract says.
        {"replacing", false, {}, {"still.bmp"}, "still.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir out;
        std::vector<std::string> others;
        for (const std::string& name : c.before) {
            WriteAllBytes(out.File(name), {'x'});
            others.push_back(out.File(name));
        }
        std::vector<std::string> meanwhile;
        for (const std::string& name : c.meanwhile) meanwhile.push_back(out.File(name));
        if (c.bFreeName)
            others.insert(others.end(), meanwhile.begin(), meanwhile.end());
        CStillJobParams params;
        params.m_strFolder = frames.Path().string();
        params.m_folderKind = SourceKind::Bmp;
        params.m_strTarget = out.File("still.bmp");
        params.m_nScale = 1;
        params.m_nThreads = 1;
        params.m_bFreeName = c.bFreeName;
        CMakesFilesMeanwhile observer(meanwhile);
        const CStillJobResult result = RunStillJob(params, observer);
        ASSERT_TRUE(result.Ok()) << result.m_strReason;
        EXPECT_EQ(result.m_strWritten, out.File(c.written));
        CDibImage picture;
        ASSERT_TRUE(LoadImageFile(result.m_strWritten, picture).Ok());
        EXPECT_EQ(picture.m_nWidth, 96);
        for (const std::string& other : others)
            EXPECT_EQ(ReadAllBytes(other), std::vector<unsigned char>{'x'}) << other;
    }
}
