#include "media/video_encoder.hpp"

#include <cmath>
#include <map>
#include <mutex>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vesk::media {
namespace {

constexpr int kMaxSide = 8192;
constexpr int kMaxFps = 60;

Error av_error(int code, const std::string& context) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return Error(text).wrap(context);
}

// The libraries log to standard error by default; only real errors belong in our log.
void quiet_library_logs() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

const AVCodec* encoder_for(std::string_view container) {
  if (container == "webm") return avcodec_find_encoder_by_name("libvpx");
  if (const AVCodec* h264 = avcodec_find_encoder_by_name("libx264")) return h264;
  return avcodec_find_encoder(AV_CODEC_ID_MPEG4);
}

// Settings that keep encoding cheap and packets flowing at once (no look-ahead), since the
// recording runs beside the browser on the same machine.
void tune_encoder(AVCodecContext* codec, const AVCodec* encoder) {
  const std::string name = encoder->name;
  if (name == "libvpx") {
    av_opt_set(codec->priv_data, "deadline", "realtime", 0);
    av_opt_set_int(codec->priv_data, "cpu-used", 8, 0);
    av_opt_set_int(codec->priv_data, "lag-in-frames", 0, 0);
    codec->bit_rate = 2'000'000;
  } else if (name == "libx264") {
    av_opt_set(codec->priv_data, "preset", "veryfast", 0);
    av_opt_set(codec->priv_data, "tune", "zerolatency", 0);
    av_opt_set(codec->priv_data, "crf", "23", 0);
  } else {
    codec->bit_rate = 2'000'000;
  }
}

AVCodecID image_codec(std::string_view bytes) {
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xD8 && static_cast<unsigned char>(bytes[2]) == 0xFF) {
    return AV_CODEC_ID_MJPEG;
  }
  if (bytes.size() >= 8 && bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8)) return AV_CODEC_ID_PNG;
  return AV_CODEC_ID_NONE;
}

}  // namespace

Result<std::string_view> video_container_for(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".webm") return std::string_view("webm");
  if (extension == ".mp4") return std::string_view("mp4");
  return fail("a video file must end in .webm or .mp4, not \"" + path.filename().string() + "\"");
}

struct VideoEncoder::State {
  VideoSettings settings;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVStream* stream = nullptr;
  AVFrame* image = nullptr;    // the image on screen, in the encoder's size and format
  AVFrame* decoded = nullptr;  // scratch for decoding
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  std::map<AVCodecID, AVCodecContext*> decoders;
  bool has_image = false;
  bool file_open = false;
  bool finished = false;
  std::int64_t next_index = 0;  // the frame time the image on screen is encoded at next
  VideoSummary summary;

  ~State() {
    if (file_open && !finished) {
      av_write_trailer(format);  // leave what was written playable
      avio_closep(&format->pb);
    }
    for (auto& [id, decoder] : decoders) avcodec_free_context(&decoder);
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&decoded);
    av_frame_free(&image);
    avcodec_free_context(&codec);
    if (format != nullptr) avformat_free_context(format);
  }

  // Writes every packet the encoder has ready.
  Status drain() {
    for (;;) {
      const int received = avcodec_receive_packet(codec, packet);
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return {};
      if (received < 0) return fail(av_error(received, "failed to encode a video frame"));
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      const int written = av_interleaved_write_frame(format, packet);
      av_packet_unref(packet);
      if (written < 0) return fail(av_error(written, "failed to write " + settings.path.string()));
    }
  }

  // The image on screen, encoded at every frame time before `end_index`.
  Status show_until(std::int64_t end_index) {
    for (; has_image && next_index < end_index; ++next_index) {
      image->pts = next_index;
      // The encoder keeps a reference only while it needs the data; sending the same
      // frame again is allowed.
      const int sent = avcodec_send_frame(codec, image);
      if (sent < 0) return fail(av_error(sent, "failed to encode a video frame"));
      if (auto drained = drain(); !drained) return drained;
      ++summary.frames;
    }
    return {};
  }

  Result<AVCodecContext*> decoder_for(AVCodecID id) {
    if (auto found = decoders.find(id); found != decoders.end()) return found->second;
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (decoder == nullptr) return fail("no image decoder for the frame format");
    AVCodecContext* context = avcodec_alloc_context3(decoder);
    if (context == nullptr) return fail("out of memory for an image decoder");
    if (const int opened = avcodec_open2(context, decoder, nullptr); opened < 0) {
      avcodec_free_context(&context);
      return fail(av_error(opened, "failed to open the image decoder"));
    }
    decoders[id] = context;
    return context;
  }

  // Decodes the image into `decoded` and scales it into `image`.
  Status take_image(std::string_view bytes) {
    const AVCodecID id = image_codec(bytes);
    if (id == AV_CODEC_ID_NONE) return fail("a video frame must be a JPEG or PNG image");
    auto decoder = decoder_for(id);
    if (!decoder) return fail(std::move(decoder.error()));
    AVPacket* input = av_packet_alloc();
    if (input == nullptr || av_new_packet(input, static_cast<int>(bytes.size())) < 0) {
      av_packet_free(&input);
      return fail("out of memory for a video frame");
    }
    std::copy(bytes.begin(), bytes.end(), input->data);
    int result = avcodec_send_packet(*decoder, input);
    av_packet_free(&input);
    if (result >= 0) result = avcodec_receive_frame(*decoder, decoded);
    if (result < 0) return fail(av_error(result, "failed to decode a video frame"));

    scaler = sws_getCachedContext(scaler, decoded->width, decoded->height,
                                  static_cast<AVPixelFormat>(decoded->format), codec->width, codec->height,
                                  codec->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler == nullptr) return fail("cannot scale a video frame of this size or format");
    if (const int writable = av_frame_make_writable(image); writable < 0) {
      return fail(av_error(writable, "failed to prepare a video frame"));
    }
    sws_scale(scaler, decoded->data, decoded->linesize, 0, decoded->height, image->data, image->linesize);
    av_frame_unref(decoded);
    has_image = true;
    return {};
  }

  std::int64_t index_at(double seconds) const {
    if (!(seconds > 0)) return 0;
    return static_cast<std::int64_t>(std::floor(seconds * settings.fps));
  }
};

VideoEncoder::VideoEncoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
VideoEncoder::~VideoEncoder() = default;

int VideoEncoder::width() const { return state_->codec->width; }
int VideoEncoder::height() const { return state_->codec->height; }

Result<std::unique_ptr<VideoEncoder>> VideoEncoder::open(const VideoSettings& settings) {
  quiet_library_logs();
  auto container = video_container_for(settings.path);
  if (!container) return fail(std::move(container.error()));
  const int width = settings.width & ~1;
  const int height = settings.height & ~1;
  if (width < 2 || height < 2 || width > kMaxSide || height > kMaxSide) {
    return fail("video size " + std::to_string(settings.width) + "x" + std::to_string(settings.height) +
                " is out of range (2 to " + std::to_string(kMaxSide) + " pixels a side)");
  }
  if (settings.fps < 1 || settings.fps > kMaxFps) {
    return fail("frame rate " + std::to_string(settings.fps) + " is out of range (1 to " + std::to_string(kMaxFps) + ")");
  }
  const AVCodec* encoder = encoder_for(*container);
  if (encoder == nullptr) return fail("the FFmpeg libraries have no encoder for " + std::string(*container));

  auto state = std::make_unique<State>();
  state->settings = settings;
  const std::string path = settings.path.string();
  const std::string name(*container);
  if (avformat_alloc_output_context2(&state->format, nullptr, name.c_str(), path.c_str()) < 0) {
    return fail("cannot write " + name + " files with these FFmpeg libraries");
  }
  state->stream = avformat_new_stream(state->format, nullptr);
  state->codec = avcodec_alloc_context3(encoder);
  state->image = av_frame_alloc();
  state->decoded = av_frame_alloc();
  state->packet = av_packet_alloc();
  if (!state->stream || !state->codec || !state->image || !state->decoded || !state->packet) {
    return fail("out of memory for a video encoder");
  }
  AVCodecContext* codec = state->codec;
  codec->width = width;
  codec->height = height;
  codec->pix_fmt = AV_PIX_FMT_YUV420P;
  codec->time_base = AVRational{1, settings.fps};
  codec->framerate = AVRational{settings.fps, 1};
  codec->gop_size = settings.fps * 2;  // a key frame (and an MP4 fragment) every two seconds
  if (state->format->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  tune_encoder(codec, encoder);
  if (const int opened = avcodec_open2(codec, encoder, nullptr); opened < 0) {
    return fail(av_error(opened, "failed to open the " + std::string(encoder->name) + " encoder"));
  }
  avcodec_parameters_from_context(state->stream->codecpar, codec);
  state->stream->time_base = codec->time_base;

  state->image->format = codec->pix_fmt;
  state->image->width = width;
  state->image->height = height;
  if (const int buffer = av_frame_get_buffer(state->image, 0); buffer < 0) {
    return fail(av_error(buffer, "failed to allocate a video frame"));
  }
  if (const int opened = avio_open(&state->format->pb, path.c_str(), AVIO_FLAG_WRITE); opened < 0) {
    return fail(av_error(opened, "failed to create " + path));
  }
  AVDictionary* options = nullptr;
  if (name == "mp4") av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
  const int header = avformat_write_header(state->format, &options);
  av_dict_free(&options);
  if (header < 0) {
    avio_closep(&state->format->pb);
    return fail(av_error(header, "failed to write the header of " + path));
  }
  state->file_open = true;
  return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(state)));
}

Status VideoEncoder::add_image(std::string_view bytes, double seconds) {
  State& s = *state_;
  if (s.finished) return fail("the video " + s.settings.path.string() + " is already finished");
  // The image on screen stays up to this image's frame time.
  if (auto shown = s.show_until(s.index_at(seconds)); !shown) return shown;
  return s.take_image(bytes);
}

Result<VideoSummary> VideoEncoder::finish(double seconds) {
  State& s = *state_;
  if (s.finished) return s.summary;
  // At least one frame for the last image, so that a short recording is never empty.
  const std::int64_t end = std::max(s.index_at(seconds), s.next_index + (s.has_image ? 1 : 0));
  Status shown = s.show_until(end);
  if (shown) {
    const int flushed = avcodec_send_frame(s.codec, nullptr);
    shown = flushed < 0 ? Status(fail(av_error(flushed, "failed to flush the video encoder"))) : s.drain();
  }
  const int trailer = av_write_trailer(s.format);
  avio_closep(&s.format->pb);
  s.finished = true;
  if (!shown) return fail(std::move(shown.error()));
  if (trailer < 0) return fail(av_error(trailer, "failed to finish " + s.settings.path.string()));
  s.summary.duration_seconds = static_cast<double>(s.summary.frames) / s.settings.fps;
  std::error_code size_error;
  s.summary.bytes = std::filesystem::file_size(s.settings.path, size_error);
  return s.summary;
}

}  // namespace vesk::media
