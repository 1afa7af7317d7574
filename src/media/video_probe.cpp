#include "media/video_probe.hpp"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vesk::media {

Result<VideoFacts> probe_video(const std::filesystem::path& path) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) != 0) {
    return fail("cannot open " + path.string() + " as a video");
  }
  VideoFacts facts;
  avformat_find_stream_info(format, nullptr);
  const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) {
    avformat_close_input(&format);
    return fail(path.string() + " has no video stream");
  }
  const AVStream* stream = format->streams[index];
  facts.width = stream->codecpar->width;
  facts.height = stream->codecpar->height;
  facts.codec = avcodec_get_name(stream->codecpar->codec_id);
  AVPacket* packet = av_packet_alloc();
  std::int64_t last_end = 0;
  while (av_read_frame(format, packet) == 0) {
    if (packet->stream_index == index) {
      ++facts.frames;
      last_end = std::max(last_end, packet->pts + std::max<std::int64_t>(packet->duration, 0));
    }
    av_packet_unref(packet);
  }
  facts.duration = static_cast<double>(last_end) * av_q2d(stream->time_base);
  av_packet_free(&packet);
  avformat_close_input(&format);
  return facts;
}

}  // namespace vesk::media
