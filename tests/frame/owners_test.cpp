// The owners that are not obvious at a glance: COM start-up for one call must
// never end COM that the caller's thread started in the multithreaded model.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "frame/owners.h"

namespace {

template <class Body>
void on_new_thread(Body body) {
  std::thread(body).join();
}

TEST(ComInit, LeavesTheCallersMultithreadedComRunning) {
  on_new_thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
      kx::ComInit com;
      EXPECT_EQ(com.result(), RPC_E_CHANGED_MODE);
    }
    // Still initialised by the caller: a further start only counts up.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
  });
}

TEST(ComInit, EndsWhatItStarted) {
  on_new_thread([] {
    {
      kx::ComInit com;
      EXPECT_EQ(com.result(), S_OK);
    }
    // The single-threaded apartment is gone again, so the thread may choose
    // the multithreaded model now.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  });
  on_new_thread([] {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    {
      kx::ComInit com;
      EXPECT_EQ(com.result(), S_FALSE);
    }
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE) << "the caller's apartment stays";
    CoUninitialize();
  });
}

}  // namespace
