#include "shared/avi/AviWriter.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/MessageBox.h"
#include "shared/stream/ByteOrder.h"
#include "tests/support/TestSupport.h"

namespace rd {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

uint32_t Le32(const std::vector<unsigned char>& b, std::size_t at) {
  return rd::LoadLe32(&b[at]);
}
uint16_t Le16(const std::vector<unsigned char>& b, std::size_t at) {
  return rd::LoadLe16(&b[at]);
}

// The header chunks of an AVI file: offset of the data of each avih, strh and
// strf chunk, in file order, found by walking RIFF/LIST chunks; plus the
// FOURCCs of every chunk and list type seen anywhere in the file.
struct RiffMap {
  std::size_t avih = 0;
  std::vector<std::size_t> strh, strf;
  std::map<std::string, int> ids;
};

void Walk(const std::vector<unsigned char>& b, std::size_t pos, std::size_t end, RiffMap& map) {
  while (pos + 8 <= end) {
    const std::string id(reinterpret_cast<const char*>(&b[pos]), 4);
    const std::size_t size = Le32(b, pos + 4);
    ++map.ids[id];
    if ((id == "RIFF" || id == "LIST") && pos + 12 <= end) {
      ++map.ids[std::string(reinterpret_cast<const char*>(&b[pos + 8]), 4)];
      Walk(b, pos + 12, std::min(end, pos + 8 + size), map);
    } else if (id == "avih") {
      map.avih = pos + 8;
    } else if (id == "strh") {
      map.strh.push_back(pos + 8);
    } else if (id == "strf") {
      map.strf.push_back(pos + 8);
    }
    pos += 8 + size + (size & 1);
  }
}

RiffMap MapFile(const std::vector<unsigned char>& b) {
  RiffMap map;
  Walk(b, 0, b.size(), map);
  return map;
}

// A picture whose top half is red and bottom half blue, as a bottom-up bitmap.
std::vector<uint8_t> TwoColourBitmap(int w, int h, int seed = 0) {
  std::vector<uint8_t> bmp(static_cast<std::size_t>(w) * h * 3);
  for (int row = 0; row < h; ++row) {  // row 0 is the bottom
    const bool top = row >= h / 2;
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &bmp[(static_cast<std::size_t>(row) * w + x) * 3];
      p[0] = top ? 0 : 255;  // blue
      p[1] = static_cast<uint8_t>(seed);
      p[2] = top ? 255 : 0;  // red
    }
  }
  return bmp;
}

struct ReadBack {
  bool opened = false;
  AVCodecID video_codec = AV_CODEC_ID_NONE;
  int width = 0, height = 0;
  AVCodecID audio_codec = AV_CODEC_ID_NONE;
  uint32_t audio_tag = 0;
  int sample_rate = 0, channels = 0, bits = 0, block_align = 0;
  int video_packets = 0;
  int64_t audio_bytes = 0;
  std::vector<uint8_t> first_video_packet;
  // First decoded picture: colour of the top-left and bottom-left pixels.
  int top_r = -1, top_b = -1, bottom_r = -1, bottom_b = -1;
};

ReadBack Read(const fs::path& file) {
  ReadBack r;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, file.c_str(), nullptr, nullptr) < 0) return r;
  r.opened = avformat_find_stream_info(fmt, nullptr) >= 0;
  int vi = -1, ai = -1;
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    const AVCodecParameters* p = fmt->streams[i]->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
      vi = static_cast<int>(i);
      r.video_codec = p->codec_id;
      r.width = p->width;
      r.height = p->height;
    } else if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
      ai = static_cast<int>(i);
      r.audio_codec = p->codec_id;
      r.audio_tag = p->codec_tag;
      r.sample_rate = p->sample_rate;
      r.channels = p->ch_layout.nb_channels;
      r.bits = p->bits_per_coded_sample;
      r.block_align = p->block_align;
    }
  }
  AVCodecContext* dec = nullptr;
  if (vi >= 0) {
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[vi]->codecpar->codec_id);
    dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[vi]->codecpar);
    if (avcodec_open2(dec, codec, nullptr) < 0) avcodec_free_context(&dec);
  }
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  AVFrame* rgb = nullptr;
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == vi) {
      if (r.video_packets++ == 0) {
        r.first_video_packet.assign(pkt->data, pkt->data + pkt->size);
        if (dec != nullptr && avcodec_send_packet(dec, pkt) == 0) {
          avcodec_send_packet(dec, nullptr);
          if (avcodec_receive_frame(dec, frame) == 0) {
            // Convert one pixel column's worth through the decoder's format: use
            // swscale-free access by asking for RGB from the data planes only for
            // the formats met here.
            const auto fmt_id = static_cast<AVPixelFormat>(frame->format);
            auto sample = [&](int y, int& red, int& blue) {
              if (fmt_id == AV_PIX_FMT_BGR24) {
                const uint8_t* p = frame->data[0] + y * frame->linesize[0];
                blue = p[0];
                red = p[2];
              } else {  // planar YUV: red has high Cr, blue high Cb
                const int cy = y * frame->height / frame->height;
                const uint8_t cb = frame->data[1][(cy >> 1) * frame->linesize[1]];
                const uint8_t cr = frame->data[2][(cy >> 1) * frame->linesize[2]];
                red = cr;
                blue = cb;
              }
            };
            sample(0, r.top_r, r.top_b);
            sample(frame->height - 1, r.bottom_r, r.bottom_b);
          }
        }
      }
    } else if (pkt->stream_index == ai) {
      r.audio_bytes += pkt->size;
    }
    av_packet_unref(pkt);
  }
  av_frame_free(&rgb);
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&dec);
  avformat_close_input(&fmt);
  return r;
}

// A clock the test moves by hand.
struct FakeClock {
  Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
  AviWriter::ClockFn Fn() {
    return [this] { return now; };
  }
};

class AviWriterTest : public ::testing::Test {
 protected:
  static constexpr int kW = 64, kH = 48;
  void SetUp() override {
    writer.SetClock(clock.Fn());
    header = BitmapInfoHeader::Make24(kW, kH);
  }
  int CreateWith(const std::string& compressor, const fs::path& file) {
    chooser = std::make_unique<FixedCompressorChooser>(CompressorOptions{compressor, 0, 0});
    writer.SetCompressorChooser(chooser.get());
    return writer.Create(file.string(), 24, kW, kH, header);
  }
  rdtest::TempDir dir;
  FakeClock clock;
  AviWriter writer;
  BitmapInfoHeader header;
  std::unique_ptr<FixedCompressorChooser> chooser;
};

TEST_F(AviWriterTest, UncompressedExportReadsBack) {
  const fs::path file = dir / "a.avi";
  ASSERT_EQ(CreateWith(kUncompressedCompressor, file), kAviOk);
  EXPECT_EQ(writer.State(), kAviStateRecording);
  EXPECT_EQ(writer.ImageSize(), std::size_t{kW * kH * 3});
  const auto bmp = TwoColourBitmap(kW, kH);
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(writer.AddVideoFrame(bmp.data(), bmp.size(), true), kAviOk);
    if (i % 10 == 0) {
      std::vector<uint8_t> block(4000, static_cast<uint8_t>(i));
      ASSERT_EQ(writer.AddAudio(block.data(), block.size()), kAviOk);
    }
  }
  std::vector<uint8_t> short_block(1000, 0x2A);
  ASSERT_EQ(writer.AddAudio(short_block.data(), short_block.size()), kAviOk);
  EXPECT_EQ(writer.NextAudioSample(), 6 * 4000);
  EXPECT_EQ(writer.FramesWritten(), 50);

  clock.now += std::chrono::milliseconds(2500);  // 50 frames in 2.5 s: 20 frames/s
  writer.Release();
  EXPECT_EQ(writer.State(), kAviStateRecording);
  EXPECT_EQ(writer.AddVideoFrame(bmp.data(), bmp.size(), true), kAviNoCompressedStream);

  // Released: complete on disk, still at the nominal 30 frames/s.
  auto bytes = rdtest::ReadFile(file);
  ASSERT_GT(bytes.size(), 132u);
  RiffMap map = MapFile(bytes);
  ASSERT_EQ(map.strh.size(), 2u);
  EXPECT_EQ(map.strh[0] + 24, 132u) << "video rate field at offset 132";
  EXPECT_EQ(std::memcmp(&bytes[map.strh[0]], "vids", 4), 0);
  EXPECT_EQ(std::memcmp(&bytes[map.strh[1]], "auds", 4), 0);
  EXPECT_EQ(Le32(bytes, map.strh[0] + 20), 30u);
  EXPECT_EQ(Le32(bytes, 132), 900u);

  clock.now += std::chrono::seconds(100);  // time after the stop does not count
  EXPECT_EQ(writer.Close(), kAviOk);
  EXPECT_EQ(writer.State(), kAviStateIdle);
  EXPECT_EQ(writer.LastPatchedRate(), 600u);

  bytes = rdtest::ReadFile(file);
  map = MapFile(bytes);
  // Video stream header: scale 30, rate 600, frame size of the bitmap header.
  const std::size_t v = map.strh[0];
  EXPECT_EQ(Le32(bytes, v + 4), 0u) << "handler";
  EXPECT_EQ(Le32(bytes, v + 20), 30u);
  EXPECT_EQ(Le32(bytes, 132), 600u);
  EXPECT_EQ(Le32(bytes, v + 32), 50u) << "length in frames";
  EXPECT_EQ(Le32(bytes, v + 36), std::size_t{kW * kH * 3}) << "suggested buffer: image size";
  EXPECT_EQ(Le32(bytes, v + 40), 0u) << "quality";
  EXPECT_EQ(Le32(bytes, v + 44), 0u) << "sample size";
  EXPECT_EQ(Le16(bytes, v + 52), kW);  // rcFrame right
  EXPECT_EQ(Le16(bytes, v + 54), kH);  // rcFrame bottom
  EXPECT_EQ(Le32(bytes, map.avih), 50000u) << "microseconds per frame follow the rate";
  // Video format: the bitmap header, bottom-up, 24 bits, uncompressed.
  const auto strf = BitmapInfoHeader::Parse(&bytes[map.strf[0]]);
  EXPECT_EQ(strf.width, kW);
  EXPECT_EQ(strf.height, kH);
  EXPECT_EQ(strf.bit_count, 24);
  EXPECT_EQ(strf.compression, 0u);
  // Audio stream header: 8000 samples/s, sample size 1; format A-law.
  const std::size_t a = map.strh[1];
  EXPECT_EQ(Le32(bytes, a + 4), 0u) << "handler";
  EXPECT_EQ(Le32(bytes, a + 20), 30u);
  EXPECT_EQ(Le32(bytes, a + 24), 240000u);
  EXPECT_EQ(Le32(bytes, a + 36), 8000u) << "suggested buffer";
  EXPECT_EQ(Le32(bytes, a + 40), 0xFFFFFFFFu) << "quality: default";
  EXPECT_EQ(Le32(bytes, a + 44), 1u) << "sample size";
  EXPECT_EQ(Le32(bytes, a + 32), 24000u) << "length in samples";
  const std::size_t af = map.strf[1];
  EXPECT_EQ(Le16(bytes, af + 0), 6);      // format tag: A-law
  EXPECT_EQ(Le16(bytes, af + 2), 1);      // channels
  EXPECT_EQ(Le32(bytes, af + 4), 8000u);  // samples per second
  EXPECT_EQ(Le32(bytes, af + 8), 8000u);  // bytes per second
  EXPECT_EQ(Le16(bytes, af + 12), 1);     // block alignment
  EXPECT_EQ(Le16(bytes, af + 14), 8);     // bits per sample
  EXPECT_EQ(Le32(bytes, map.strf[1] - 4), 18u) << "an 18-byte wave format";
  EXPECT_EQ(Le16(bytes, af + 16), 0) << "no extra bytes";

  const ReadBack r = Read(file);
  ASSERT_TRUE(r.opened);
  EXPECT_EQ(r.video_codec, AV_CODEC_ID_RAWVIDEO);
  EXPECT_EQ(r.width, kW);
  EXPECT_EQ(r.height, kH);
  EXPECT_EQ(r.video_packets, 50);
  EXPECT_EQ(r.first_video_packet, bmp) << "frames stored as the bottom-up bitmaps given";
  EXPECT_EQ(r.audio_codec, AV_CODEC_ID_PCM_ALAW);
  EXPECT_EQ(r.audio_tag, 6u);
  EXPECT_EQ(r.sample_rate, 8000);
  EXPECT_EQ(r.channels, 1);
  EXPECT_EQ(r.bits, 8);
  EXPECT_EQ(r.block_align, 1);
  EXPECT_EQ(r.audio_bytes, 6 * 4000) << "the short block was completed with silence";
  // Decoded, the top of the picture is red: the orientation survived.
  EXPECT_GT(r.top_r, 200);
  EXPECT_LT(r.top_b, 50);
  EXPECT_GT(r.bottom_b, 200);
}

TEST_F(AviWriterTest, CompressedExportKeepsOrientation) {
  const fs::path file = dir / "m.avi";
  ASSERT_EQ(CreateWith("mjpeg", file), kAviOk);
  const auto bmp = TwoColourBitmap(kW, kH);
  for (int i = 0; i < 10; ++i)
    ASSERT_EQ(writer.AddVideoFrame(bmp.data(), bmp.size(), true), kAviOk);
  std::vector<uint8_t> block(4000, 0x55);
  ASSERT_EQ(writer.AddAudio(block.data(), block.size()), kAviOk);
  clock.now += std::chrono::seconds(1);
  writer.Release();
  ASSERT_EQ(writer.Close(), kAviOk);
  EXPECT_EQ(writer.LastPatchedRate(), 300u);  // 10 frames in 1 s
  const ReadBack r = Read(file);
  ASSERT_TRUE(r.opened);
  EXPECT_EQ(r.video_codec, AV_CODEC_ID_MJPEG);
  EXPECT_EQ(r.video_packets, 10);
  EXPECT_EQ(r.audio_bytes, 4000);
  EXPECT_GT(r.top_r, 200) << "Cr of the top row";
  EXPECT_GT(r.bottom_b, 200) << "Cb of the bottom row";
}

TEST_F(AviWriterTest, ExportWithoutFramesIsDeletedAtNextCreateOrExit) {
  const fs::path first = dir / "empty.avi";
  ASSERT_EQ(CreateWith(kUncompressedCompressor, first), kAviOk);
  std::vector<uint8_t> block(4000, 0x55);
  writer.AddAudio(block.data(), block.size());
  writer.Release();
  EXPECT_TRUE(fs::exists(first)) << "left in place until the next Create";

  const fs::path second = dir / "second.avi";
  ASSERT_EQ(CreateWith(kUncompressedCompressor, second), kAviOk);
  EXPECT_FALSE(fs::exists(first));
  writer.Release();
  {
    AviWriter other;  // at exit
    ASSERT_EQ(other.Create((dir / "third.avi").string(), 24, kW, kH, header), kAviOk);
  }
  EXPECT_FALSE(fs::exists(dir / "third.avi"));
  EXPECT_EQ(writer.Close(), kAviOk);
  EXPECT_FALSE(fs::exists(second));
}

TEST_F(AviWriterTest, RatePatchedAtNextCreateOnly) {
  const fs::path file = dir / "r.avi";
  ASSERT_EQ(CreateWith(kUncompressedCompressor, file), kAviOk);
  const auto bmp = TwoColourBitmap(kW, kH);
  for (int i = 0; i < 15; ++i) writer.AddVideoFrame(bmp.data(), bmp.size(), true);
  clock.now += std::chrono::seconds(3);  // 5 frames/s
  writer.Release();
  auto bytes = rdtest::ReadFile(file);
  EXPECT_EQ(Le32(bytes, 128), 30u);
  EXPECT_EQ(Le32(bytes, 132), 900u);
  ASSERT_EQ(CreateWith(kUncompressedCompressor, dir / "next.avi"), kAviOk);
  bytes = rdtest::ReadFile(file);
  EXPECT_EQ(Le32(bytes, 128), 30u);
  EXPECT_EQ(Le32(bytes, 132), 150u);
  EXPECT_EQ(Read(file).video_packets, 15);
}

TEST_F(AviWriterTest, CreateFailures) {
  ScopedMessageCapture messages;
  EXPECT_EQ(writer.Create("", 24, kW, kH, header), kAviEmptyPath);
  for (const auto& [w, h, bits] :
       {std::tuple{0, kH, 24}, {kW, -1, 24}, {kW, kH, 0}, {30000, 30000, 24}}) {
    EXPECT_EQ(writer.Create((dir / "x.avi").string(), bits, w, h, header), kAviBadSize);
    EXPECT_EQ(writer.State(), kAviStateIdle);
  }
  EXPECT_EQ(writer.Create((dir / "no" / "dir.avi").string(), 24, kW, kH, header),
            kAviCannotCreateFile);
  // The reason is the system's; a later failure of another kind has its own.
  EXPECT_EQ(writer.FailureReason(kAviCannotCreateFile), "no such file or directory");
  EXPECT_EQ(writer.FailureReason(kAviWriteFailed), "the write failed");

  // Cancelled choice: 402, nothing left behind.
  FixedCompressorChooser cancel({}, /*cancel=*/true);
  writer.SetCompressorChooser(&cancel);
  EXPECT_EQ(writer.Create((dir / "c.avi").string(), 24, kW, kH, header), kAviCancelled);
  EXPECT_EQ(writer.State(), kAviStateIdle);
  EXPECT_FALSE(fs::exists(dir / "c.avi"));

  // No such compressor: the compressed stream cannot be made.
  EXPECT_EQ(CreateWith("no-such-encoder", dir / "n.avi"), kAviCannotMakeCompressed);
  EXPECT_EQ(writer.FailureReason(kAviCannotMakeCompressed), "the compressor cannot be made");
  EXPECT_TRUE(messages.Messages().empty());

  // A format refused: a header that does not describe the frames, and an
  // encoder that refuses the picture size (H.261 takes only 176x144 and 352x288).
  BitmapInfoHeader wrong = header;
  wrong.bit_count = 32;
  writer.SetCompressorChooser(nullptr);
  EXPECT_EQ(writer.Create((dir / "w.avi").string(), 24, kW, kH, wrong), kAviFormatRefused);
  EXPECT_EQ(writer.Create((dir / "w.avi").string(), 32, kW, kH, BitmapInfoHeader::Make24(kW, kH)),
            kAviFormatRefused);
  int refused = 2;
  if (avcodec_find_encoder_by_name("h261") != nullptr) {
    EXPECT_EQ(CreateWith("h261", dir / "h.avi"), kAviFormatRefused);
    ++refused;
  }
  EXPECT_FALSE(fs::exists(dir / "w.avi"));
  EXPECT_FALSE(fs::exists(dir / "h.avi"));
  EXPECT_EQ(writer.State(), kAviStateIdle);
  const auto shown = messages.Messages();
  ASSERT_EQ(static_cast<int>(shown.size()), refused);
  for (const auto& m : shown) EXPECT_EQ(m.text, "Invalid codec!");
}

TEST_F(AviWriterTest, WritesOutsideRecording) {
  const auto bmp = TwoColourBitmap(kW, kH);
  std::vector<uint8_t> block(4000, 0x55);
  EXPECT_EQ(writer.AddVideoFrame(bmp.data(), bmp.size(), true), kAviIdle);
  EXPECT_EQ(writer.AddAudio(block.data(), block.size()), kAviWriteFailed);
  EXPECT_EQ(writer.State(), kAviStateIdle);
  EXPECT_EQ(writer.Close(), kAviOk);

  ASSERT_EQ(CreateWith(kUncompressedCompressor, dir / "o.avi"), kAviOk);
  EXPECT_EQ(writer.AddVideoFrame(nullptr, 0, true), kAviNoData);
  EXPECT_EQ(writer.AddVideoFrame(bmp.data(), bmp.size() - 1, true), kAviNoData);
  writer.Release();
  EXPECT_EQ(writer.AddAudio(block.data(), block.size()), kAviWriteFailed);
  EXPECT_EQ(writer.Close(), kAviOk);
  EXPECT_EQ(writer.Close(), kAviOk);
}

TEST_F(AviWriterTest, AudioFromAnotherThreadWhileFramesAreAdded) {
  const fs::path file = dir / "t.avi";
  ASSERT_EQ(CreateWith("mjpeg", file), kAviOk);
  const auto bmp = TwoColourBitmap(kW, kH);
  std::atomic<int> audio_ok{0};
  std::thread audio([&] {
    std::vector<uint8_t> block(4000, 0x55);
    for (int i = 0; i < 40; ++i) audio_ok += writer.AddAudio(block.data(), block.size()) == kAviOk;
  });
  int frames_ok = 0;
  for (int i = 0; i < 40; ++i)
    frames_ok += writer.AddVideoFrame(bmp.data(), bmp.size(), true) == kAviOk;
  audio.join();
  // The stop command while audio may still arrive: later blocks are refused.
  writer.Release();
  std::vector<uint8_t> late(4000, 0x55);
  EXPECT_EQ(writer.AddAudio(late.data(), late.size()), kAviWriteFailed);
  ASSERT_EQ(writer.Close(), kAviOk);
  EXPECT_EQ(frames_ok, 40);
  EXPECT_EQ(audio_ok.load(), 40);
  const ReadBack r = Read(file);
  EXPECT_EQ(r.video_packets, 40);
  EXPECT_EQ(r.audio_bytes, 40 * 4000);
}

// Past 1 GiB the muxer goes on in AVIX parts (OpenDML) with their own
// indexes; every frame of a file past 2 GB must read back. Writes 2.2 GB, so
// it runs only when RD_LARGE_TESTS is set.
TEST_F(AviWriterTest, ExportPastTwoGigabytes) {
  if (std::getenv("RD_LARGE_TESTS") == nullptr) GTEST_SKIP() << "set RD_LARGE_TESTS=1 to run";
  const int w = 640, h = 436, frames = 2600;  // 837,120 bytes a frame
  const fs::path file = dir / "big.avi";
  writer.SetCompressorChooser(nullptr);
  ASSERT_EQ(writer.Create(file.string(), 24, w, h, BitmapInfoHeader::Make24(w, h)), kAviOk);
  std::vector<uint8_t> bmp(static_cast<std::size_t>(w) * h * 3, 0x40);
  std::vector<uint8_t> block(4000, 0x55);
  for (int i = 0; i < frames; ++i) {
    bmp[0] = static_cast<uint8_t>(i);
    ASSERT_EQ(writer.AddVideoFrame(bmp.data(), bmp.size(), true), kAviOk);
    if (i % 15 == 0) {
      ASSERT_EQ(writer.AddAudio(block.data(), block.size()), kAviOk);
    }
  }
  clock.now += std::chrono::milliseconds(frames * 1000) / 30;
  writer.Release();
  ASSERT_EQ(writer.Close(), kAviOk);
  ASSERT_GT(fs::file_size(file), 2ull << 30);
  // The RIFF parts, walked with seeks; the headers from the first 64 KiB.
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> forms;
  std::vector<unsigned char> chunk(12);
  for (uint64_t pos = 0; in.seekg(static_cast<std::streamoff>(pos)) &&
                         in.read(reinterpret_cast<char*>(chunk.data()), 12);) {
    forms.emplace_back(reinterpret_cast<const char*>(&chunk[8]), 4);
    pos += 8 + Le32(chunk, 4);
  }
  EXPECT_EQ(forms, (std::vector<std::string>{"AVI ", "AVIX", "AVIX"}));
  in.clear();
  std::vector<unsigned char> head(64 * 1024);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  RiffMap map = MapFile(head);
  EXPECT_EQ(map.ids["indx"], 2) << "a super index for each stream";
  EXPECT_EQ(map.ids["dmlh"], 1);
  EXPECT_EQ(Le32(head, 132), 900u);
  const ReadBack r = Read(file);
  EXPECT_EQ(r.video_packets, frames);
  EXPECT_EQ(r.audio_bytes, (frames + 14) / 15 * 4000);
}

TEST(AviCompressors, UncompressedFirstThenCommonOnes) {
  const auto list = ListAviVideoCompressors();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].name, kUncompressedCompressor);
  std::map<std::string, std::size_t> at;
  for (std::size_t i = 0; i < list.size(); ++i) {
    EXPECT_TRUE(at.emplace(list[i].name, i).second) << "listed twice: " << list[i].name;
  }
  ASSERT_TRUE(at.count("mjpeg"));
  EXPECT_EQ(at["mjpeg"], 1u);
  if (at.count("ffv1") && at.count("mpeg4")) {
    EXPECT_LT(at["ffv1"], at["mpeg4"]);
  }
  for (const auto& c : list) {
    EXPECT_EQ(c.name.find("_vaapi"), std::string::npos);
    EXPECT_EQ(c.name.find("_nvenc"), std::string::npos);
  }
}

}  // namespace
}  // namespace rd
