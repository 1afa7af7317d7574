#include "platform/files.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace vesk {
namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto root = create_temporary_directory("vesk-files-");
    ASSERT_TRUE(root) << root.error().text();
    root_ = *root;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  std::filesystem::path root_;
};

// Users see these reasons after the path they named; both systems give the same ones.
TEST_F(FilesTest, ReadWholeFileSaysWhyItCannotRead) {
  std::filesystem::create_directory(root_ / "folder");
  std::ofstream(root_ / "file.txt", std::ios::binary) << "bytes";

  auto read = read_whole_file(root_ / "file.txt");
  ASSERT_TRUE(read) << read.error().text();
  EXPECT_EQ(*read, "bytes");

  auto missing = read_whole_file(root_ / "missing.txt");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind(), ErrorKind::NotFound) << missing.error().text();

  auto folder = read_whole_file(root_ / "folder");
  ASSERT_FALSE(folder);
  EXPECT_TRUE(folder.error().text().starts_with("Is a directory (os error ")) << folder.error().text();
}

// The whole file comes back, as text and as bytes, whatever its size against the reading
// block (64 KiB) and the size it had when it was opened.
TEST_F(FilesTest, ReadWholeFileReturnsEveryByteOfFilesOfAnySize) {
  for (const std::size_t size : {0, 1, 65535, 65536, 65537, 200001}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    const auto path = root_ / ("file-" + std::to_string(size));
    std::ofstream(path, std::ios::binary) << bytes;
    auto text = read_whole_file(path);
    ASSERT_TRUE(text) << text.error().text();
    EXPECT_TRUE(*text == bytes) << size << " bytes written, " << text->size() << " read";
    auto raw = read_whole_file_bytes(path);
    ASSERT_TRUE(raw) << raw.error().text();
    EXPECT_TRUE(std::string(raw->begin(), raw->end()) == bytes) << size;
  }
}

// A lock file whose holder is stuck: another process removes it and creates its own under
// the same name while the first holder still has its file open.
TEST_F(FilesTest, RemovingAFileStillHeldOpenFreesItsNameAtOnce) {
  const auto path = root_ / "held.lock";
  auto first = create_exclusive_file(path);
  ASSERT_TRUE(first && *first);

  ASSERT_TRUE(remove_file(path));
  EXPECT_FALSE(std::filesystem::exists(path));
  auto second = create_exclusive_file(path);
  ASSERT_TRUE(second) << second.error().text();
  ASSERT_TRUE(*second) << "the name was still taken";

  // The first holder's clean-up leaves the new file alone; the second's removes it.
  EXPECT_TRUE((*first)->remove_if_ours(path));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_TRUE((*second)->remove_if_ours(path));
  EXPECT_FALSE(std::filesystem::exists(path));
  // Removing what is already gone is fine.
  EXPECT_TRUE(remove_file(path));
}

}  // namespace
}  // namespace vesk
