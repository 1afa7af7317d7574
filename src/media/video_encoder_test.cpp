// Videos made from still frames play back with the size, frame count and duration asked
// for, as the FFmpeg libraries read them back; bad settings and bad frames are refused.
#include "media/video_encoder.hpp"

#include "media/video_probe.hpp"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace vesk::media {
namespace {

// A JPEG image of one colour (luma `y`), made with the libraries' own JPEG encoder.
std::string solid_jpeg(int width, int height, int y) {
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  AVCodecContext* codec = avcodec_alloc_context3(encoder);
  codec->width = width;
  codec->height = height;
  codec->pix_fmt = AV_PIX_FMT_YUVJ420P;
  codec->time_base = AVRational{1, 25};
  EXPECT_EQ(avcodec_open2(codec, encoder, nullptr), 0);
  AVFrame* frame = av_frame_alloc();
  frame->format = codec->pix_fmt;
  frame->width = width;
  frame->height = height;
  av_frame_get_buffer(frame, 0);
  for (int row = 0; row < height; ++row) std::fill_n(frame->data[0] + row * frame->linesize[0], width, y);
  for (int plane = 1; plane < 3; ++plane) {
    for (int row = 0; row < height / 2; ++row) std::fill_n(frame->data[plane] + row * frame->linesize[plane], width / 2, 128);
  }
  avcodec_send_frame(codec, frame);
  avcodec_send_frame(codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  std::string bytes;
  if (avcodec_receive_packet(codec, packet) == 0) bytes.assign(reinterpret_cast<char*>(packet->data), packet->size);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&codec);
  return bytes;
}

class VideoEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vesk-video-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(VideoEncoderTest, FramesHeldUntilTheNextFillTheWholeTimeInEachContainer) {
  const std::string dark = solid_jpeg(320, 240, 40);
  const std::string light = solid_jpeg(320, 240, 220);
  for (const char* name : {"a.webm", "a.mp4"}) {
    // Frames at 0 s and 0.5 s, the recording stopped at 1.5 s, 10 frames a second, the
    // images scaled from 320x240 to an odd size that is rounded down to 200x150.
    auto encoder = VideoEncoder::open({dir_ / name, 201, 151, 10});
    ASSERT_TRUE(encoder) << encoder.error().text();
    ASSERT_TRUE((*encoder)->add_image(dark, 0.0));
    ASSERT_TRUE((*encoder)->add_image(light, 0.5));
    auto summary = (*encoder)->finish(1.5);
    ASSERT_TRUE(summary) << summary.error().text();
    EXPECT_EQ(summary->frames, 15) << name;
    EXPECT_DOUBLE_EQ(summary->duration_seconds, 1.5) << name;
    EXPECT_EQ(summary->bytes, std::filesystem::file_size(dir_ / name)) << name;

    const auto read = probe_video(dir_ / name);
    ASSERT_TRUE(read) << read.error().text();
    EXPECT_EQ(read->width, 200) << name;
    EXPECT_EQ(read->height, 150) << name;
    EXPECT_EQ(read->frames, 15) << name;
    EXPECT_NEAR(read->duration, 1.5, 0.11) << name;
    if (std::string(name).ends_with("webm")) {
      EXPECT_EQ(read->codec, "vp8");
    }
  }
}

TEST_F(VideoEncoderTest, ImagesWithinOneFrameReplaceEachOtherAndAShortRecordingKeepsItsFrame) {
  const std::string image = solid_jpeg(64, 64, 100);
  auto encoder = VideoEncoder::open({dir_ / "b.webm", 64, 64, 5});
  ASSERT_TRUE(encoder);
  for (double t : {0.0, 0.05, 0.1, 0.15}) ASSERT_TRUE((*encoder)->add_image(image, t));
  auto summary = (*encoder)->finish(0.01);
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->frames, 1);
  EXPECT_EQ(probe_video(dir_ / "b.webm")->frames, 1);
  // Finishing twice answers the same; adding after the end is refused.
  EXPECT_EQ((*encoder)->finish(9.0)->frames, 1);
  EXPECT_FALSE((*encoder)->add_image(image, 1.0));
}

TEST_F(VideoEncoderTest, BadSettingsAndBadFramesAreRefusedWithTheReason) {
  const std::pair<VideoSettings, const char*> settings[] = {
      {{dir_ / "a.avi", 100, 100, 10}, "must end in .webm or .mp4"},
      {{dir_ / "a.webm", 1, 100, 10}, "out of range"},
      {{dir_ / "a.webm", 100, 100000, 10}, "out of range"},
      {{dir_ / "a.webm", 100, 100, 0}, "frame rate 0"},
      {{dir_ / "missing" / "a.webm", 100, 100, 10}, "failed to create"},
  };
  for (const auto& [setting, message] : settings) {
    auto encoder = VideoEncoder::open(setting);
    ASSERT_FALSE(encoder) << setting.path;
    EXPECT_NE(encoder.error().text().find(message), std::string::npos) << encoder.error().text();
  }
  auto encoder = VideoEncoder::open({dir_ / "c.webm", 64, 64, 10});
  ASSERT_TRUE(encoder);
  const auto not_an_image = (*encoder)->add_image("hello", 0);
  ASSERT_FALSE(not_an_image);
  EXPECT_NE(not_an_image.error().text().find("JPEG or PNG"), std::string::npos);
  const auto broken_jpeg = (*encoder)->add_image(std::string("\xFF\xD8\xFF\xE0 broken", 12), 0);
  EXPECT_FALSE(broken_jpeg);
}

}  // namespace
}  // namespace vesk::media
