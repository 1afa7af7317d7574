#pragma once
// Reading a video file back as a player would: its size, codec, frame count and duration.
// Used to check what the recorder wrote.

#include <filesystem>
#include <string>

#include "base/error.hpp"

namespace vesk::media {

struct VideoFacts {
  int width = 0;
  int height = 0;
  std::string codec;       // "vp8", "h264"
  int frames = 0;          // packets of the video stream
  double duration = 0;     // seconds, from the last packet's end
};

Result<VideoFacts> probe_video(const std::filesystem::path& path);

}  // namespace vesk::media
