// The sources an average moved to the trash come back from the real trash (the tests' private
// XDG_DATA_HOME, see trash_home.cpp) byte for byte, never over a file that took a name meanwhile.
#include <random>

#include "jobs/merge_image_job.h"
#include "jobs_test_util.h"
#include "platform/trash.h"

using namespace jobs_test;

TEST(RestoreFromTrash, PutsBackTheSourcesOfTheAverage) {
    struct Case {
        const char* name;
        int blocked;    // the source whose name a new file takes after the job; -1 none
        bool bEarlier;  // the trash holds an older file of the same name and folder
    };
    const Case kCases[] = {
        {"nothing in the way", -1, false},
        {"older files of that name in the trash", -1, true},
        {"a new file in the way", 1, true},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path in = dir.Path() / "in";
        std::mt19937 rng(11);
        for (int i = 0; i < 3; ++i)
            WriteBmp(in / ("frame" + std::to_string(i) + ".bmp"), 5, 4,
                     [&](int, int, int) { return std::uint8_t(rng()); });
        const std::vector<std::string> sources = ScanOrder(in.string(), "*.bmp");
        ASSERT_EQ(sources.size(), 3u);
        std::vector<std::vector<unsigned char>> bytes;
        for (const std::string& source : sources) bytes.push_back(ReadAllBytes(source));
        if (c.bEarlier) {
            // Two earlier files under the first source's path, trashed before the job: its
            // own goes in under a third name.
            const std::string moved = sources[0] + ".keep";
            fs::rename(sources[0], moved);
            for (const char* text : {"earlier", "later"}) {
                WriteText(sources[0], text);
                const CStatus trashed = MoveToTrash(sources[0]);
                ASSERT_TRUE(trashed) << trashed.Reason();
            }
            fs::rename(moved, sources[0]);
        }

        CMergeParams s;
        s.m_strSrcDir = in.string();
        s.m_strTargetFile = (dir.Path() / "avg.bmp").string();
        s.m_bExtra800 = s.m_bExtra1024 = s.m_bAutoNumber = false;
        s.m_bDelSrc = true;
        const CJobResult result = RunJob<CMergeImageJob>(s);
        ASSERT_TRUE(result.Ok());
        ASSERT_EQ(result.m_trashed, sources);
        ASSERT_EQ(result.m_trashPlaces.size(), sources.size());
        for (const std::string& source : sources) ASSERT_FALSE(fs::exists(source));

        const std::string blocker = "a file made after the job";
        if (c.blocked >= 0)
            WriteText(sources[std::size_t(c.blocked)], blocker);
        const std::vector<CRestoredFile> answers = RestoreFromTrash(result.m_trashPlaces);
        ASSERT_EQ(answers.size(), sources.size());
        for (std::size_t i = 0; i < sources.size(); ++i) {
            SCOPED_TRACE(sources[i]);
            const CTrashedFile& place = result.m_trashPlaces[i];
            EXPECT_TRUE(fs::equivalent(answers[i].m_strPath, sources[i]));
            if (int(i) == c.blocked) {
                // Named as not put back; both files stay as they are.
                EXPECT_EQ(answers[i].m_outcome, RestoreOutcome::PathTaken);
                EXPECT_EQ(ReadText(sources[i]), blocker);
                EXPECT_EQ(ReadAllBytes(place.m_strTrashFile), bytes[i]);
                EXPECT_TRUE(fs::exists(place.m_strInfoFile));
            } else {
                EXPECT_EQ(answers[i].m_outcome, RestoreOutcome::Restored) << answers[i].m_strWhy;
                EXPECT_EQ(ReadAllBytes(sources[i]), bytes[i]);
                EXPECT_FALSE(fs::exists(place.m_strTrashFile));
                EXPECT_FALSE(fs::exists(place.m_strInfoFile));
            }
        }
        // Asked again, nothing is put back twice and the one in the way is still named.
        const std::vector<CRestoredFile> again = RestoreFromTrash(result.m_trashPlaces);
        ASSERT_EQ(again.size(), sources.size());
        for (std::size_t i = 0; i < sources.size(); ++i)
            EXPECT_EQ(again[i].m_outcome,
                      int(i) == c.blocked ? RestoreOutcome::PathTaken : RestoreOutcome::NotInTrash);
        if (c.blocked < 0) {
            EXPECT_EQ(ReadAllBytes(sources[0]), bytes[0]);  // not the earlier file
        }
    }
}
