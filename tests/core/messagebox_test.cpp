#include "core/MessageBox.h"

#include <gtest/gtest.h>

using namespace Branwick;

namespace {

TEST(MessageBox, RecorderKeepsBoxesAndAnswers) {
    CRecordingMessageBox recorder;
    IMessageBox* pPrevious = SetMessageBox(&recorder);
    EXPECT_EQ(ShowMessageBox(L"Log is unavailable"), IDOK);
    EXPECT_EQ(ShowMessageBox(L"Are you sure?", L"Corvane", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(ShowMessageBox(L"Go on?", L"Other", MB_OKCANCEL), IDCANCEL);
    recorder.SetAnswer(IDYES);
    EXPECT_EQ(ShowMessageBox(L"Really?", L"Corvane", MB_YESNO), IDYES);
    EXPECT_EQ(SetMessageBox(pPrevious), &recorder);

    const auto shown = recorder.GetShown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].strText, L"Log is unavailable");
    EXPECT_EQ(shown[0].strCaption, L"Corvane");
    EXPECT_EQ(shown[0].uType, MB_OK);
    EXPECT_EQ(shown[1].uType, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(shown[2].strCaption, L"Other");
}

TEST(MessageBox, StderrWritesOneLineAndConfirmsNothing) {
    CStderrMessageBox box;
    ::testing::internal::CaptureStderr();
    const int nAnswer = box.Show(L"Can't get USERPROFILE path ä", L"Corvane", MB_YESNO);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Corvane: Can't get USERPROFILE path \xC3\xA4\n");
    EXPECT_EQ(nAnswer, IDNO);
}

}  // namespace
