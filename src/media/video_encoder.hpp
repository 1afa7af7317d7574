#pragma once
// Encodes a stream of still images (the JPEG or PNG frames of a tab's screencast) into a
// video file with the FFmpeg libraries: WebM (VP8) or MP4 (H.264, or MPEG-4 Part 2 where
// no H.264 encoder is built in), chosen by the file's extension.
//
// The video has a constant frame rate. Screencast frames come only when the page changes,
// so each frame is shown until the next one arrives: add_image() repeats the previous
// image for every frame time that passed without one, and finish() repeats the last image
// up to the end time, so the video lasts as long as the recording did. MP4 is written in
// fragments, so a file cut short by a crash still plays up to its last fragment.
//
// Not thread-safe: one thread feeds an encoder (the recorder's worker).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "base/error.hpp"

namespace vesk::media {

struct VideoSettings {
  std::filesystem::path path;  // ".webm" or ".mp4"
  int width = 0;               // rounded down to even numbers (4:2:0 needs them)
  int height = 0;
  int fps = 25;
};

struct VideoSummary {
  std::int64_t frames = 0;
  double duration_seconds = 0;
  std::uintmax_t bytes = 0;
};

class VideoEncoder {
 public:
  // Opens the file and the encoder; fails on an unknown extension, a size or frame rate
  // out of range, or a file that cannot be created.
  static Result<std::unique_ptr<VideoEncoder>> open(const VideoSettings& settings);
  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  // One image (JPEG or PNG bytes) shown from `seconds` after the start on; scaled to the
  // video's size. Images closer together than one frame replace each other.
  Status add_image(std::string_view bytes, double seconds);
  // Shows the last image until `seconds`, flushes the encoder and closes the file. Later
  // calls do nothing and return the same summary.
  Result<VideoSummary> finish(double seconds);

  int width() const;
  int height() const;

 private:
  struct State;
  explicit VideoEncoder(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// The container's name for a path ("webm", "mp4"), or an error naming the extensions that
// are accepted.
Result<std::string_view> video_container_for(const std::filesystem::path& path);

}  // namespace vesk::media
