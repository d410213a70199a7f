// A close asked for while the memory clean-up waits between its rounds: the
// rounds stop, the window stays while the click's loops run, and the
// outermost loop closes it once the click is done.  Its own executable: the
// window does not come back.
#include "test_listview_fixture.h"

using namespace mwtest;

TEST(PagesClose, ACloseDuringTheCleanUpsWaitIsCarriedOutByTheOuterLoop) {
    Form();
    StopTimers();
    Form().pageSources.showSystemInfo = [](ui::ListView&, const ui::ImageList&) {};
    Form().SelectTab(3);
    const HWND window = Form().Hwnd();
    int rounds = 0;
    bool pending = false, stayed = false;
    Form().pageSources.cleanMemoryBlock = [] { return std::wstring(16, L' '); };
    Form().pageSources.cleanMemoryRound = [&] {
        if (++rounds != 2) return;
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box, pressed during the rounds
        vb::DoEvents();                                    // a pump inside the click takes it
        pending = Form().ClosePending();
        stayed = IsWindow(window) && IsWindowVisible(window);
    };
    // The click comes through the outermost loop, as the user's does.
    PostMessageW(Form().cmdCleanMemory, BM_CLICK, 0, 0);
    EXPECT_TRUE(Pump([&] { return !IsWindow(window); }, 20000)) << "the outer loop closes the window";
    EXPECT_EQ(rounds, 2) << "no more rounds once the close is asked for";
    EXPECT_TRUE(pending);
    EXPECT_TRUE(stayed) << "nothing closes inside the click";
    EXPECT_EQ(vb::RunMessageLoop(), 0);
}
