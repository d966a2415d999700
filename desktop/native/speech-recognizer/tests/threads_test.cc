#include "threads.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "process_runner.h"
#include "system_backend.h"
#include "thread_semaphore.h"

namespace palvorin::testing {
namespace {

struct NiceCase {
  QosClass qos;
  int inherited;
  int expected;
};

class NiceValueTest : public ::testing::TestWithParam<NiceCase> {};

TEST_P(NiceValueTest, FollowsTheClassWithoutRaisingPriority) {
  EXPECT_EQ(niceValueForClass(GetParam().qos, GetParam().inherited), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Classes, NiceValueTest,
                         ::testing::Values(NiceCase{QosClass::background, 0, 19},
                                           NiceCase{QosClass::utility, 0, 10},
                                           NiceCase{QosClass::userInitiated, 0, 0},
                                           NiceCase{QosClass::background, 5, 19},
                                           NiceCase{QosClass::utility, 15, 15},
                                           NiceCase{QosClass::userInitiated, 7, 7},
                                           NiceCase{QosClass::utility, -5, 10}));

TEST(Threads, NiceValueBelongsToOneThread) {
  const int before = currentThreadNice();
  Semaphore done = makeThreadSemaphore();
  std::atomic<int> inside{-100};
  ASSERT_TRUE(startDetachedThread([&, done] {
    setCurrentThreadNice(niceValueForClass(QosClass::background, currentThreadNice()));
    inside = currentThreadNice();
    done.signal();
  }));
  done.wait();
  EXPECT_EQ(inside.load(), kBackgroundNice);
  EXPECT_EQ(currentThreadNice(), before);
}

TEST(Threads, DetachedThreadRunsElsewhere) {
  Semaphore done = makeThreadSemaphore();
  std::thread::id ranOn;
  ASSERT_TRUE(startDetachedThread([&, done] {
    ranOn = std::this_thread::get_id();
    done.signal();
  }));
  done.wait();
  EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(ThreadSemaphore, SignalsAreCountedAndCopiesShareTheCount) {
  Semaphore semaphore = makeThreadSemaphore();
  Semaphore copy = semaphore;
  semaphore.signal();
  copy.signal();
  semaphore.wait();  // neither wait may block: two signals came first
  copy.wait();
  std::atomic<bool> woken{false};
  std::thread waiter([&] {
    semaphore.wait();
    woken = true;
  });
  EXPECT_FALSE(woken.load());
  copy.signal();
  waiter.join();
  EXPECT_TRUE(woken.load());
}

TEST(SystemPlatform, EnvironmentTellsAbsentFromEmpty) {
  const Platform platform = makeSystemPlatform();
  ::setenv("PALVORIN_TEST_EMPTY", "", 1);
  ::setenv("PALVORIN_TEST_SET", "low", 1);
  ::unsetenv("PALVORIN_TEST_ABSENT");
  EXPECT_EQ(platform.environmentValue("PALVORIN_TEST_EMPTY"), std::optional<std::string>(""));
  EXPECT_EQ(platform.environmentValue("PALVORIN_TEST_SET"), std::optional<std::string>("low"));
  EXPECT_EQ(platform.environmentValue("PALVORIN_TEST_ABSENT"), std::nullopt);
}

TEST(SystemPlatform, AnyExistingEntryExists) {
  const Platform platform = makeSystemPlatform();
  const std::string directory = makeTemporaryDirectory();
  const std::string fileName = directory + "/file.wav";
  const std::string fifo = directory + "/fifo";
  const std::string dangling = directory + "/dangling";
  ASSERT_EQ(::close(::creat(fileName.c_str(), 0600)), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink((directory + "/nowhere").c_str(), dangling.c_str()), 0);
  EXPECT_TRUE(platform.fileExists(fileName));
  EXPECT_TRUE(platform.fileExists(directory));
  EXPECT_TRUE(platform.fileExists(fifo));
  EXPECT_FALSE(platform.fileExists(dangling));
  EXPECT_FALSE(platform.fileExists(directory + "/missing.wav"));
  EXPECT_FALSE(platform.fileExists(""));
  std::filesystem::remove_all(directory);
}

TEST(SystemPlatform, DispatchRunsTheWorkOnAnotherThread) {
  const Platform platform = makeSystemPlatform();
  Semaphore done = makeThreadSemaphore();
  std::thread::id ranOn;
  platform.dispatchAsync(QosClass::utility, [&, done] {
    ranOn = std::this_thread::get_id();
    done.signal();
  });
  done.wait();
  EXPECT_NE(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace palvorin::testing
