#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "render/render.hpp"

namespace vesk {
namespace {

// Points standard output at another file for the fixture's lifetime.
class StdoutRedirect {
 public:
  explicit StdoutRedirect(const char* path) : saved_(::dup(STDOUT_FILENO)) {
    const int fd = ::open(path, O_WRONLY);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~StdoutRedirect() {
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

TEST(PrintResult, ReportsAFailingStandardOutput) {
  Status printed;
  {
    StdoutRedirect full("/dev/full");
    printed = print_result(Json{{"a", 1}});
  }
  ASSERT_FALSE(printed);
  EXPECT_NE(printed.error().text().find("standard output"), std::string::npos) << printed.error().text();
  Status listed;
  {
    StdoutRedirect full("/dev/full");
    listed = print_snapshot_listing(Json::object());
  }
  ASSERT_FALSE(listed);
  EXPECT_NE(listed.error().text().find("standard output"), std::string::npos);
}

}  // namespace
}  // namespace vesk
