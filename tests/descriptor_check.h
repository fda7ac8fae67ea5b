// Included by a test binary: every test leaves the descriptors it found open
// (the same numbers on the same files), no more and no fewer. ctest runs each
// test in a process of its own, so the environment brackets one test.
#ifndef VELMARD_TESTS_DESCRIPTOR_CHECK_H
#define VELMARD_TESTS_DESCRIPTOR_CHECK_H

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

class NoDescriptorLeft : public ::testing::Environment {
 public:
  static std::set<std::string> Open() {
    std::set<std::string> open;
    for (auto const& e : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      open.insert(e.path().filename().string() + " " +
                  std::filesystem::read_symlink(e, ec).string());
    }
    return open;
  }
  void SetUp() override { before_ = Open(); }
  void TearDown() override { EXPECT_EQ(before_, Open()) << "descriptors left open or closed"; }

 private:
  std::set<std::string> before_;
};

inline ::testing::Environment* const noDescriptorLeft =
    ::testing::AddGlobalTestEnvironment(new NoDescriptorLeft);

#endif  // VELMARD_TESTS_DESCRIPTOR_CHECK_H
